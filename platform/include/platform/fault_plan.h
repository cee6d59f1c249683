// A plan of injected I/O failures, for fault campaigns that run the real
// programs: read once from the environment variable MAROVETIN_FAULT_PLAN, it
// makes chosen calls at the platform's I/O seams fail with a chosen errno.
//
//   MAROVETIN_FAULT_PLAN=write:17:ENOSPC   the 17th write fails with ENOSPC
//   MAROVETIN_FAULT_PLAN=read:3+:EIO       the 3rd read and every later one fail
//   MAROVETIN_FAULT_PLAN=count             nothing fails; the calls are counted
//   MAROVETIN_FAULT_PLAN=sync:2:KILL       the process is killed at the 2nd sync,
//                                          before it syncs anything
//
// Entries may be joined with ",". The kinds are write, read and sync; the
// errno is a name (EIO, ENOSPC, EDQUOT, EROFS, EFBIG) or a number, or KILL.
// Calls are numbered from 1 per kind, over the whole process. Whenever a
// plan is set, the process reports on standard error at exit how many calls
// of each kind it made and how many it failed, in one line:
//   "fault plan: 12 writes, 40 reads, 3 syncs, 1 failed"
// Without the variable nothing is counted or printed.
#ifndef MAROVETIN_PLATFORM_FAULT_PLAN_H_
#define MAROVETIN_PLATFORM_FAULT_PLAN_H_

namespace platform {

enum class IoCall { kWrite, kRead, kSync };

// Counts one call of that kind and returns the errno it must fail with, or 0
// when it goes ahead. Every I/O seam of the platform layer asks before it acts.
int NextIoFault(IoCall call);

// True when a plan is set (even one that only counts).
bool IoFaultsPlanned();

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_FAULT_PLAN_H_

// A plan of injected I/O failures, for fault campaigns that run the real
// update: read from the environment variable MAROVETIN_FAULT_PLAN by a
// test build of the program (fault_build/), it makes chosen calls of the
// program's Env (a FaultEnv, fault_env.h) fail with a chosen errno. The
// programs that ship never read the variable.
//
//   MAROVETIN_FAULT_PLAN=write:17:ENOSPC   the 17th write fails with ENOSPC
//   MAROVETIN_FAULT_PLAN=read:3+:EIO       the 3rd read and every later one fail
//   MAROVETIN_FAULT_PLAN=count             nothing fails; the calls are counted
//   MAROVETIN_FAULT_PLAN=sync:2:KILL       the process is killed at the 2nd sync,
//                                          before it syncs anything
//
// Entries may be joined with ",". The kinds are write, read, sync, open,
// rename, link, remove, mkdir, rmdir, list, stat and chmod (IoCall of
// fault_env.h); the errno is a name (EIO, ENOSPC, EDQUOT, EROFS, EFBIG) or a
// number, or KILL. Calls are numbered from 1 per kind, over the whole
// process. Whenever a plan is set, the process reports on standard error at
// exit how many calls of each kind it made and how many it failed, in one
// line:
//   "fault plan: write=12 read=40 sync=3 open=9 ... stat=30 failed=1"
// Without the variable nothing is installed, counted or printed.
#ifndef MAROVETIN_TESTS_SUPPORT_FAULT_PLAN_H_
#define MAROVETIN_TESTS_SUPPORT_FAULT_PLAN_H_

#include <map>
#include <string>

#include "platform/env.h"

namespace testing_support {

// Reads the variable and, when it is set, gives an Env that fails calls as
// the plan says, and installs its report as an exit handler; without the
// variable, the system's Env. Call once, before any I/O; the Env lives until
// the process ends.
platform::Env* FaultPlanEnvFromEnvironment();

// The counts of a run's report line in its standard error, by kind
// ("write", ..., "stat", "failed"); empty when there is none.
std::map<std::string, long long> FaultPlanCounts(const std::string& standardError);

}  // namespace testing_support

#endif  // MAROVETIN_TESTS_SUPPORT_FAULT_PLAN_H_

// The seams below the file calls, shared by the files that make those calls:
// the installed event observer and fault source (io_observer.h) and the sync
// fault hook.
#ifndef MAROVETIN_PLATFORM_SRC_FILE_EVENTS_H_
#define MAROVETIN_PLATFORM_SRC_FILE_EVENTS_H_

#include <cerrno>
#include <string>

#include "platform/io_observer.h"
#include "platform/random_access_file.h"

namespace platform {
namespace internal {

// The observer in force, or null.
FileEventObserver* CurrentObserver();

// The installed fault source's verdict on one call: the errno it must fail
// with, or 0 (always 0 when none is installed).
int InjectedFault(IoCall call);

// True when the fault source fails this call; errno is then its errno.
inline bool FaultInjected(IoCall call) {
  const int injected = InjectedFault(call);
  if (injected == 0) return false;
  errno = injected;
  return true;
}

// Runs a sync through the seams: the fault hook first, then the observer in
// place of the system call, else the system call that sync makes.
template <typename SystemSync>
Status SyncThroughSeams(SyncScope scope, const std::string& path, SystemSync sync);

// The fault hook's verdict on a sync of path (OK when none is installed).
Status SyncFaultVerdict(const std::string& path);

// True while a fault hook, an observer or a fault source watches the I/O seams:
// writes must then go through them, in an order that does not depend on threads.
bool WritesAreWatched();

template <typename SystemSync>
Status SyncThroughSeams(SyncScope scope, const std::string& path, SystemSync sync) {
  Status verdict = SyncFaultVerdict(path);
  if (!verdict.ok()) return verdict;
  if (FileEventObserver* observer = CurrentObserver()) return observer->OnSync(scope, path);
  return sync();
}

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_FILE_EVENTS_H_

// Advisory locks on a whole file, as the pack volumes and the shared block
// use them. Open-file-description locks belong to the open file rather than
// to the process, so two opens inside one process (as in tests) conflict like
// two processes; where they are missing, process-owned record locks stand in.
// Either kind vanishes with the process however it ends.
#ifndef MAROVETIN_PLATFORM_SRC_WHOLE_FILE_LOCK_H_
#define MAROVETIN_PLATFORM_SRC_WHOLE_FILE_LOCK_H_

namespace platform {
namespace internal {

enum class LockType { kShared, kExclusive, kUnlock };

// Sets (or converts, or with kUnlock drops) the lock on all of fd's file,
// however long it grows. With wait, blocks until it is granted. False, with
// errno set, when it was not (EAGAIN/EACCES: another holder).
bool SetWholeFileLock(int fd, LockType type, bool wait);

// True when errno after a failed SetWholeFileLock means "another holder".
bool HeldElsewhere(int error);

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_WHOLE_FILE_LOCK_H_

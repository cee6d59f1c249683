#include "whole_file_lock.h"

#include <fcntl.h>

#include <cerrno>

namespace platform {
namespace internal {

namespace {

#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
constexpr int kSetLockWait = F_OFD_SETLKW;
#else
constexpr int kSetLock = F_SETLK;
constexpr int kSetLockWait = F_SETLKW;
#endif

short FcntlType(LockType type) {
  switch (type) {
    case LockType::kShared:
      return F_RDLCK;
    case LockType::kExclusive:
      return F_WRLCK;
    case LockType::kUnlock:
      break;
  }
  return F_UNLCK;
}

}  // namespace

bool SetWholeFileLock(int fd, LockType type, bool wait) {
  struct flock lock = {};
  lock.l_type = FcntlType(type);
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long it grows
  int result;
  do {
    result = ::fcntl(fd, wait ? kSetLockWait : kSetLock, &lock);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool HeldElsewhere(int error) {
  return error == EAGAIN || error == EACCES || error == EWOULDBLOCK;
}

}  // namespace internal
}  // namespace platform

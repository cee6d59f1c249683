// Positioned reads and writes on one descriptor (pread/pwrite, so that no
// shared file offset has to be guarded), fdatasync, and whole-file advisory
// locking. The seams around these calls are in random_access_file_portable.cc.
#include "platform/random_access_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "name_match_cache.h"
#include "platform/file_system.h"
#include "random_access_file_system.h"
#include "whole_file_lock.h"

namespace platform {

namespace internal {

long long SystemReadAt(int fd, std::uint64_t offset, void* data, std::size_t length) {
  unsigned char* out = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;  // end of file
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

// ENOSPC stands for a write that made no progress without an errno.
std::size_t SystemWriteAt(int fd, std::uint64_t offset, const unsigned char* data,
                          std::size_t length, int* error) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      break;
    }
    if (n == 0) {
      *error = ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void SystemStartWriteback(int fd) { ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

Status SystemSyncData(int fd, const std::string& path) {
  int result;
  do {
    result = ::fdatasync(fd);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return Status::FromErrno(errno, path);
  return Status::Ok();
}

Status SystemLockExclusive(int fd, const std::string& path, bool wait) {
  if (SetWholeFileLock(fd, LockType::kExclusive, wait)) return Status::Ok();
  if (HeldElsewhere(errno)) {
    return Status::Error(Status::Code::kBusy, path, "another process has it open");
  }
  return Status::FromErrno(errno, path);
}

std::unique_ptr<SystemFile> SystemFile::Open(const std::string& path, Mode mode) {
  if (path.empty()) return nullptr;
  int flags = (mode == Mode::kRead ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  if (mode == Mode::kCreateReadWrite) flags |= O_CREAT | O_TRUNC;
  std::string resolved = ResolvePath(path);
  int fd;
  do {
    fd = ::open(resolved.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat st;
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return nullptr;
  }
  if (mode == Mode::kCreateReadWrite) NoteEntryCreated(resolved);
  return std::unique_ptr<SystemFile>(new SystemFile(fd, path));
}

SystemFile::~SystemFile() { ::close(fd_); }

std::uint64_t SystemFile::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

bool SystemFile::IsFileAt(const std::string& path) const {
  struct stat open;
  struct stat named;
  if (::fstat(fd_, &open) != 0 || ::stat(ResolvePath(path).c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace internal
}  // namespace platform

// Durability of directory entries and of whole file systems. A file's own
// data are synced through RandomAccessFile::Sync.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_system.h"
#include "system_files.h"

namespace platform {

namespace {

// Opens path read-only (a directory may be opened so), runs sync on the
// descriptor and closes it; the failure names path.
template <typename SyncCall>
Status SyncThrough(const std::string& path, int extraFlags, SyncCall sync) {
  std::string resolved = ResolvePath(path.empty() ? std::string(".") : path);
  int fd;
  do {
    fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC | extraFlags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Status::FromErrno(errno, path);
  int result;
  do {
    result = sync(fd);
  } while (result != 0 && errno == EINTR);
  Status status = result == 0 ? Status::Ok() : Status::FromErrno(errno, path);
  ::close(fd);
  return status;
}

}  // namespace

Status SyncDirectory(const std::string& path) {
  return SyncThrough(path, O_DIRECTORY, [](int fd) { return ::fsync(fd); });
}

Status SyncFileSystemOf(const std::string& path) {
  return SyncThrough(path, 0, [](int fd) { return ::syncfs(fd); });
}

}  // namespace platform

#include "platform/deleted_file.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "file_removal.h"
#include "system_files.h"

namespace platform {

DeletedFile& DeletedFile::operator=(DeletedFile&& other) noexcept {
  if (this != &other) {
    Free();
    descriptor_ = other.descriptor_;
    other.descriptor_ = -1;
  }
  return *this;
}

std::uint64_t DeletedFile::KeptBytes() const {
  struct stat st;
  if (descriptor_ < 0 || ::fstat(descriptor_, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

std::uint64_t DeletedFile::FreeBytesBeside() const {
  struct statvfs fs;
  if (descriptor_ < 0 || ::fstatvfs(descriptor_, &fs) != 0) return 0;
  return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

void DeletedFile::Free() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

bool DeleteFileKeeping(const std::string& path, DeletedFile* kept) {
  kept->Free();
  return internal::UnlinkFile(path, &kept->descriptor_);
}

std::size_t RaiseOpenFileLimit(std::size_t wanted) {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t most = static_cast<rlim_t>(wanted);
  const rlim_t target =
      limit.rlim_max == RLIM_INFINITY || limit.rlim_max > most ? most : limit.rlim_max;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < target) {
    struct rlimit raised = limit;
    raised.rlim_cur = target;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace platform

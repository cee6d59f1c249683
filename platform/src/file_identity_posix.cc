#include "platform/file_identity.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "path_resolution.h"
#include "stamp_from_stat.h"
#include "platform/file_system.h"
#include "system_files.h"

namespace platform {

namespace {

bool StatExisting(const std::string& path, struct stat* st) {
  return internal::OnExistingPath(path, [st](const std::string& candidate) {
    return ::stat(candidate.c_str(), st) == 0;
  });
}

}  // namespace

bool StampPath(const std::string& path, FileStamp* stamp) {
  struct stat st;
  *stamp = FileStamp();
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  if (!StatExisting(path, &st)) return false;
  *stamp = internal::StampFromStat(st);
  return true;
}

std::string CanonicalPath(const std::string& path) {
  if (path.empty()) return std::string();
  char* resolved = ::realpath(ResolvePath(path).c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(ResolvePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace platform

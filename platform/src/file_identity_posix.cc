#include "platform/file_identity.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "path_resolution.h"
#include "stamp_from_stat.h"
#include "platform/file_system.h"
#include "system_files.h"

namespace platform {

namespace {

bool StatExisting(const std::string& path, struct stat* st) {
  return !path.empty() && internal::OnExistingPath(path, [st](const std::string& candidate) {
    return ::stat(candidate.c_str(), st) == 0;
  });
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (!StatExisting(a, &sa) || !StatExisting(b, &sb)) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

FileStamp StampOf(const std::string& path) {
  struct stat st;
  if (!StatExisting(path, &st)) return FileStamp();
  return internal::StampFromStat(st);
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

bool FileSystemIdOf(const std::string& path, std::uint64_t* id) {
  struct stat st;
  if (path.empty() || ::stat(ResolvePath(path).c_str(), &st) != 0) return false;
  if (id != nullptr) *id = static_cast<std::uint64_t>(st.st_dev);
  return true;
}

}  // namespace platform

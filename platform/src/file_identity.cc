#include "platform/file_identity.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "platform/file_system.h"

namespace platform {

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(ResolvePath(a).c_str(), &sa) != 0) return false;
  if (::stat(ResolvePath(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string CanonicalPath(const std::string& path) {
  if (path.empty()) return std::string();
  char* resolved = ::realpath(ResolvePath(path).c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool FileSystemIdOf(const std::string& path, std::uint64_t* id) {
  struct stat st;
  if (path.empty() || ::stat(ResolvePath(path).c_str(), &st) != 0) return false;
  if (id != nullptr) *id = static_cast<std::uint64_t>(st.st_dev);
  return true;
}

}  // namespace platform

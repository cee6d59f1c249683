#include "platform/file_identity.h"

#include <sys/stat.h>

#include "platform/file_system.h"

namespace platform {

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(ResolvePath(a).c_str(), &sa) != 0) return false;
  if (::stat(ResolvePath(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace platform

// Windows has no file without a name: every file is written under its name.
#include <cerrno>

#include "platform/unnamed_file.h"

namespace platform {

std::unique_ptr<UnnamedFile> UnnamedFile::Write(const std::string&, const unsigned char*,
                                                std::size_t) {
  return nullptr;
}

UnnamedFile::~UnnamedFile() = default;

bool UnnamedFile::Name(const std::string&) {
  errno = ENOSYS;
  return false;
}

}  // namespace platform

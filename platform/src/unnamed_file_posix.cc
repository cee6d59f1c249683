#include "platform/unnamed_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "name_match_cache.h"
#include "path_resolution.h"
#include "random_access_file_system.h"
#include "platform/path_spelling.h"
#include "system_files.h"

namespace platform {

std::unique_ptr<UnnamedFile> UnnamedFile::Write(const std::string& directory,
                                                const unsigned char* data, std::size_t size) {
  if (directory.empty()) return nullptr;
  std::string translated = WithForwardSlashes(directory);
  // A file made as O_TMPFILE is an inode without a directory entry: it is
  // freed when its last descriptor closes unless it was linked before.
  const int descriptor = ::open(translated.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (descriptor < 0) return nullptr;
  std::unique_ptr<UnnamedFile> file(new UnnamedFile(std::move(translated), descriptor));
  int error = 0;
  if (size > 0 && internal::SystemWriteAt(descriptor, 0, data, size, &error) != size) {
    return nullptr;
  }
  // The bytes start for the disk now, on this thread, so that the sync that
  // later makes the named file durable has little left to wait for.
  if (size > 0) internal::SystemStartWriteback(descriptor);
  return file;
}

UnnamedFile::~UnnamedFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

bool UnnamedFile::Name(const std::string& path) {
  if (descriptor_ < 0) {
    errno = EBADF;
    return false;
  }
  // Linking the descriptor itself (AT_EMPTY_PATH) needs a privilege; its
  // entry under /proc/self/fd leads to the same inode without one.
  const std::string self = "/proc/self/fd/" + std::to_string(descriptor_);
  const std::string target = WithForwardSlashes(path);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    return false;
  }
  internal::NoteEntryCreated(target);
  ::close(descriptor_);
  descriptor_ = -1;
  return true;
}

}  // namespace platform

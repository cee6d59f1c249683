// Running a call on a path as the system writes it: the path as written
// first, and the case-insensitive resolution only when that does not exist.
#ifndef MAROVETIN_PLATFORM_SRC_PATH_RESOLUTION_H_
#define MAROVETIN_PLATFORM_SRC_PATH_RESOLUTION_H_

#include <cerrno>
#include <string>

#include "platform/file_system.h"
#include "platform/path_spelling.h"

namespace platform {
namespace internal {

// ResolvePath for a translated path already known not to exist as written
// (a dangling link counts as not existing: its own name is its match).
std::string ResolveMissingPath(const std::string& translated);

// Runs op (a call that needs an existing path, returning true on success)
// on the path with its separators translated; only when that fails because
// the path does not exist, once more on ResolvePath's answer if it differs.
// The same outcome as resolving first, since ResolvePath keeps a path that
// exists as written, without its look-ups on the usual path that does.
template <typename Op>
bool OnExistingPath(const std::string& path, Op op) {
  const std::string translated = WithForwardSlashes(path);
  if (translated.empty()) return false;
  if (op(translated)) return true;
  if (errno != ENOENT && errno != ENOTDIR) return false;
  const int failure = errno;
  const std::string resolved = ResolveMissingPath(translated);
  if (resolved == translated) {
    errno = failure;
    return false;
  }
  return op(resolved);
}

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_PATH_RESOLUTION_H_

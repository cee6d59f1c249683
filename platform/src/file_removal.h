// The one way this layer deletes a file on POSIX systems, for DeleteFile and
// DeleteFileKeeping alike.
#ifndef MAROVETIN_PLATFORM_FILE_REMOVAL_H_
#define MAROVETIN_PLATFORM_FILE_REMOVAL_H_

#include <string>

namespace platform {
namespace internal {

// Unlinks the file path names (through the case-insensitive lookup), past
// the fault and event seams, and keeps the name cache current. With keep,
// *keep gets a reference to the file taken just before the unlink, which
// keeps its blocks past it (-1 when none could be had); a failed unlink
// closes it again. False, errno set, when nothing was deleted.
bool UnlinkFile(const std::string& path, int* keep);

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_FILE_REMOVAL_H_

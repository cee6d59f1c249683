// Directory listings: the system reads a directory (directory_listing_posix.cc,
// win32/directory_listing_win32.cc); the order of the result and the start
// of a tree walk are the same everywhere (directory_listing_portable.cc).
#ifndef MAROVETIN_PLATFORM_SRC_DIRECTORY_LISTING_SYSTEM_H_
#define MAROVETIN_PLATFORM_SRC_DIRECTORY_LISTING_SYSTEM_H_

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace platform {
namespace internal {

// Puts a listing in the order ListDirectory promises, which never depends on
// the order the system returned the names in.
void SortListing(std::vector<DirectoryEntry>* entries);

// One level of ListTreeAsIs: directory is an operating-system path taken as
// it is, prefix the names above this level as reported. Levels below are
// listed in turn.
void ListLevelAsIs(const std::string& directory, const std::string& prefix,
                   std::vector<TreeEntry>* entries);

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_DIRECTORY_LISTING_SYSTEM_H_

// What directory listings share on every system: their order, and where a
// walk of a tree as it is starts.
#include <algorithm>
#include <string>
#include <vector>

#include "directory_listing_system.h"
#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "system_files.h"

namespace platform {

namespace {

// Case-insensitive (ASCII) order; names equal but for case are ordered
// bytewise so that the result never depends on the order the system used.
bool NameLess(const DirectoryEntry& a, const DirectoryEntry& b) {
  const std::string& x = a.name;
  const std::string& y = b.name;
  std::size_t common = std::min(x.size(), y.size());
  for (std::size_t i = 0; i < common; ++i) {
    unsigned char cx = AsciiLower(static_cast<unsigned char>(x[i]));
    unsigned char cy = AsciiLower(static_cast<unsigned char>(y[i]));
    if (cx != cy) return cx < cy;
  }
  if (x.size() != y.size()) return x.size() < y.size();
  return x < y;
}

}  // namespace

namespace internal {

void SortListing(std::vector<DirectoryEntry>* entries) {
  std::sort(entries->begin(), entries->end(), NameLess);
}

}  // namespace internal

void ListTreeAsIs(const std::string& root, std::vector<TreeEntry>* entries) {
  if (entries == nullptr) return;
  entries->clear();
  if (root.empty()) return;
  internal::ListLevelAsIs(ResolvePath(root), std::string(), entries);
}

}  // namespace platform

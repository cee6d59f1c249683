// Cutting a search result back to the name below the searched directory.
#ifndef UPDATE_SRC_RELATIVE_NAME_H_
#define UPDATE_SRC_RELATIVE_NAME_H_

#include <string>

#include "platform/path_spelling.h"

namespace update {
namespace internal {

// The entry without base and the one separator after it. Entries come from
// ListFiles(base) (base, "\", the path below it), but the loose-file stage
// also meets the pack search's entries, which start with base + "/Pak": when
// base already ends in "/" (a work path given as "update/"), no separator
// follows it there, and cutting one more character would lose the first
// letter of the name. An entry that does not start with base, or names base
// itself, gives an empty name rather than a cut past its end.
inline std::string RelativeTo(const std::string& entry, const std::string& base) {
  if (entry.size() <= base.size() || entry.compare(0, base.size(), base) != 0) {
    return std::string();
  }
  std::string::size_type start = base.size();
  if (platform::IsPathSeparator(entry[start])) ++start;
  return entry.substr(start);
}

}  // namespace internal
}  // namespace update

#endif  // UPDATE_SRC_RELATIVE_NAME_H_

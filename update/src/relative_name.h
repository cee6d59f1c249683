// Cutting a search result back to the name below the searched directory.
#ifndef UPDATE_SRC_RELATIVE_NAME_H_
#define UPDATE_SRC_RELATIVE_NAME_H_

#include <string>

namespace update {
namespace internal {

// The entry without base and the one separator after it. Entries come from
// ListFiles(base) and so always start that way; an entry too short for that
// gives an empty name rather than a cut past its end.
inline std::string RelativeTo(const std::string& entry, const std::string& base) {
  if (entry.size() <= base.size() + 1) return std::string();
  return entry.substr(base.size() + 1);
}

}  // namespace internal
}  // namespace update

#endif  // UPDATE_SRC_RELATIVE_NAME_H_

// The key form of stored names, and relative-path resolution.
#ifndef PKFS_NORMALIZE_NAME_H_
#define PKFS_NORMALIZE_NAME_H_

#include <string>

namespace pkfs {

// Upper-cases ASCII letters; turns "\" into "/" except for the byte after a
// double-byte lead byte (> 0x80); drops one leading "/"; collapses runs of "/".
void NormalizeName(std::string& name);

// Strips trailing separators from directory, applies each ".." of relative to
// it (only "/" counts as a level there), and ends directory with "/" again.
void ResolveRelative(std::string& directory, std::string& relative);

}  // namespace pkfs

#endif  // PKFS_NORMALIZE_NAME_H_

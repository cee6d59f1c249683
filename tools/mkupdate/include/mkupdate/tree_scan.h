// What an installation holds on disk: every file, directory and other thing
// below its root, found without following a single symbolic link.
#ifndef MKUPDATE_TREE_SCAN_H_
#define MKUPDATE_TREE_SCAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace mkupdate {

struct TreeEntry {
  enum class Kind { kFile, kDirectory, kOther };
  std::string path;  // below the root, levels joined with "/", names as stored
  Kind kind = Kind::kFile;
  std::uint64_t size = 0;  // of a regular file
  // What a kOther is, so that two installations can agree on it: "link to "
  // and the link's text, or the kind of file.
  std::string other;
};

// Everything below root, depth first (kOther: links, pipes, sockets, devices,
// none of them followed or opened). root itself may be reached through a
// link, as the user named it. The failure names the directory that could not
// be read and why.
platform::Status ScanTree(const std::string& root, std::vector<TreeEntry>* entries);

}  // namespace mkupdate

#endif  // MKUPDATE_TREE_SCAN_H_

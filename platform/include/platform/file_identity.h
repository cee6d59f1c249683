// Which file a path leads to, whatever its spelling: "." and ".." levels,
// symbolic links, letter case and "\" separators are all seen through. A
// file's stamp is taken through an Env (Env::StampFile).
#ifndef MAROVETIN_PLATFORM_FILE_IDENTITY_H_
#define MAROVETIN_PLATFORM_FILE_IDENTITY_H_

#include <cstdint>
#include <string>

namespace platform {

// The path with every symbolic link, "." and ".." level resolved (after
// ResolvePath); empty when it does not exist.
std::string CanonicalPath(const std::string& path);

// True when path (through ResolvePath) is itself a symbolic link, whether or
// not the link leads anywhere. A write meant for what a link leads to must
// then go through CanonicalPath; any other path is its own target.
bool IsSymbolicLink(const std::string& path);

// What a file looked like at one moment: which file a path led to, its size
// and its modification and change times. Any write, truncation, replacement
// by rename, deletion or creation under the path changes the stamp (short of
// two changes of one size inside one tick of the file system's clock).
struct FileStamp {
  bool exists = false;
  bool directory = false;  // not compared: a change of kind changes the inode
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;

  bool SameFileAs(const FileStamp& other) const {
    return exists && other.exists && device == other.device && inode == other.inode;
  }
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modifiedNs == other.modifiedNs && changedNs == other.changedNs;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_FILE_IDENTITY_H_

// Whether two paths lead to one file, whatever their spelling: "." and ".."
// levels, symbolic links, letter case and "\" separators are all seen through.
#ifndef MAROVETIN_PLATFORM_FILE_IDENTITY_H_
#define MAROVETIN_PLATFORM_FILE_IDENTITY_H_

#include <cstdint>
#include <string>

namespace platform {

// True when both paths name the same existing file (same device and inode
// once each path has gone through ResolvePath). False when either does not
// exist.
bool IsSameFile(const std::string& a, const std::string& b);

// The path with every symbolic link, "." and ".." level resolved (after
// ResolvePath); empty when it does not exist.
std::string CanonicalPath(const std::string& path);

// The file system (device) that holds path, so that one sync per file system
// can cover a batch of files; false when path does not exist.
bool FileSystemIdOf(const std::string& path, std::uint64_t* id);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_FILE_IDENTITY_H_

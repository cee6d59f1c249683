// Whether two paths lead to one file, whatever their spelling: "." and ".."
// levels, symbolic links, letter case and "\" separators are all seen through.
#ifndef MAROVETIN_PLATFORM_FILE_IDENTITY_H_
#define MAROVETIN_PLATFORM_FILE_IDENTITY_H_

#include <string>

namespace platform {

// True when both paths name the same existing file (same device and inode
// once each path has gone through ResolvePath). False when either does not
// exist.
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_FILE_IDENTITY_H_

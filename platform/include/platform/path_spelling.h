// How the system spells paths: "\" and "/" both separate levels, as on
// Windows, and a path the system keeps, compares or shows is spelled with "/"
// throughout (Windows takes "/" as well). Every such conversion goes through
// here.
#ifndef MAROVETIN_PLATFORM_PATH_SPELLING_H_
#define MAROVETIN_PLATFORM_PATH_SPELLING_H_

#include <string>

namespace platform {

inline bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// path with every "\" as "/".
inline std::string WithForwardSlashes(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_PATH_SPELLING_H_

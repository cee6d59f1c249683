// Creation and removal of the directory levels of a relative file name.
#include <cstdio>
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/file_system.h"

namespace fileutil {

namespace {

// Only the backslash passes: "//" stays as given here.
std::string WithForwardSlashes(const std::string& relative) {
  std::string result = relative;
  ReplaceAll(result, "\\\\", "/");
  ReplaceAll(result, "\\", "/");
  return result;
}

}  // namespace

void MakeDirectories(const std::string& relative, const std::string& base) {
  std::string name = WithForwardSlashes(relative);
  // A name without any "." counts as directories throughout; otherwise its
  // last level is the file and the levels before it are directories.
  std::string directories;
  if (name.find('.') == std::string::npos) {
    directories = name;
  } else {
    std::size_t lastSlash = name.rfind('/');
    if (lastSlash == std::string::npos) return;
    directories = name.substr(0, lastSlash);
  }
  std::vector<std::string> levels;
  SplitString(directories, levels, "/");
  // A single level is expected to exist already and is not created.
  if (levels.size() < 2) return;
  std::string path = base;
  for (const std::string& level : levels) {
    path += "/";
    path += level;
    platform::CreateDirectory(path);  // exists already, or a parent is missing: go on
  }
}

void RemoveEmptyDirectories(const std::string& relative, const std::string& base) {
  std::vector<std::string> levels;
  SplitString(WithForwardSlashes(relative), levels, "/");
  while (!levels.empty()) {
    std::string path = base;
    for (const std::string& level : levels) {
      path += "/";
      path += level;
    }
    if (std::FILE* file = platform::OpenFile(path, "rb")) {
      std::fclose(file);  // a file is still there: leave it
    } else if (!platform::RemoveDirectory(path)) {
      std::printf("Remove Directory:%s", path.c_str());
    }
    levels.pop_back();
  }
}

}  // namespace fileutil

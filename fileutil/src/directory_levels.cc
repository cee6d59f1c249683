// Creation and removal of the directory levels of a relative file name.
#include <cerrno>
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

void MakeDirectories(const std::string& relative, const std::string& base, platform::Env* env) {
  const std::string name = WithForwardSlashes(relative);
  // Every level before the last "/" is a directory, however many there are
  // (a file one level down needs its one directory too); the last level is
  // the file itself, with or without a "." in its name.
  const std::size_t lastSlash = name.rfind('/');
  if (lastSlash == std::string::npos) return;
  std::vector<std::string> levels;
  SplitString(name.substr(0, lastSlash), levels, "/");
  std::string path = base;
  for (const std::string& level : levels) {
    if (level.empty()) continue;  // "a//b.txt": the same directory
    path += "/";
    path += level;
    env->CreateDirectory(path);  // exists already, or a parent is missing: go on
  }
}

void RemoveEmptyDirectories(const std::string& relative, const std::string& base,
                            const std::function<void(const std::string& text)>& output,
                            platform::Env* env) {
  const auto report = [&output](const std::string& path) {
    if (output) {
      output("Remove Directory:" + path);
    } else {
      std::printf("Remove Directory:%s", path.c_str());
    }
  };
  std::vector<std::string> levels;
  SplitString(WithForwardSlashes(relative), levels, "/");
  // Once a level that is a directory stays, every level above it holds it and
  // cannot be removed either: those are reported without asking the system.
  bool aboveAKeptDirectory = false;
  while (!levels.empty()) {
    std::string path = base;
    for (const std::string& level : levels) {
      path += "/";
      path += level;
    }
    if (aboveAKeptDirectory) {
      report(path);
      levels.pop_back();
      continue;
    }
    std::FILE* file = nullptr;
    const platform::Status opened = env->OpenStream(path, "rb", &file);
    if (opened.ok()) {
      std::fclose(file);  // a file is still there: leave it
    } else {
      const bool isDirectory = opened.error() == EISDIR;
      if (!env->RemoveDirectory(path).ok()) {
        aboveAKeptDirectory = isDirectory;
        report(path);
      }
    }
    levels.pop_back();
  }
}

}  // namespace fileutil

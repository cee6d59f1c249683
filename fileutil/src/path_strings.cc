// Path string rewriting and splitting, and the current directory.
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/file_system.h"
#include "platform/path_spelling.h"

namespace fileutil {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;  // nothing to find; would never advance
  std::size_t pos = text.find(from);
  while (pos != std::string::npos) {
    text.replace(pos, from.size(), to);
    // Resume after the inserted text: replacements are never rescanned.
    pos = text.find(from, pos + to.size());
  }
}

void NormalizePath(std::string& path) {
  // The order matters: "/\" survives as "//" because the "//" pass runs
  // before single backslashes are rewritten.
  ReplaceAll(path, "\\\\", "/");
  ReplaceAll(path, "//", "/");
  ReplaceAll(path, "\\", "/");
}

void SplitString(const std::string& text, std::vector<std::string>& pieces,
                 const std::string& sep) {
  if (sep.empty()) {
    if (!text.empty()) pieces.push_back(text);
    return;
  }
  std::size_t start = 0;
  for (std::size_t pos = text.find(sep); pos != std::string::npos; pos = text.find(sep, start)) {
    pieces.push_back(text.substr(start, pos - start));
    start = pos + sep.size();
  }
  if (start != text.size()) pieces.push_back(text.substr(start));
}

bool IsAbsolutePath(const std::string& path) {
  if (path.empty()) return false;
  if (platform::IsPathSeparator(path[0])) return true;
#ifdef _WIN32
  const char drive = path[0];
  if (path.size() >= 3 && ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) &&
      path[1] == ':' && platform::IsPathSeparator(path[2])) {
    return true;
  }
#endif
  return false;
}

void CurrentDirectory(std::string& out) {
  // The whole directory, however long: a cut-off path would name another
  // directory.
  out = platform::GetCurrentDirectory();
}

}  // namespace fileutil

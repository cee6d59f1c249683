// Checking stored names before they become paths.
#include "pkfstool/stored_name.h"

#include <cstdio>

#include "platform/path_spelling.h"

namespace pkfstool {

std::vector<std::string> NameLevels(const std::string& name) {
  std::vector<std::string> levels;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    levels.push_back(name.substr(start, end - start));
    start = end + 1;
  }
  return levels;
}

std::string UnsafeNameReason(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (name.find('\0') != std::string::npos) return "it holds a zero byte";
  if (platform::IsPathSeparator(name[0])) return "it is absolute";
  for (const std::string& level : NameLevels(name)) {
    if (level == "..") return "it has a \"..\" level, which would lead outside the target";
    if (level == ".") return "it has a \".\" level";
    if (level.empty()) return "it has an empty level";
  }
  return std::string();
}

std::string PrintableName(const std::string& name) {
  std::string printable;
  printable.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      printable += escaped;
    } else if (c == '\\') {
      printable += "\\\\";
    } else {
      printable += c;
    }
  }
  return printable;
}

}  // namespace pkfstool

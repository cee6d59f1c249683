#include "launcher/command_line_checks.h"

#include <algorithm>

#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace launcher {

namespace {

// The decoding options given, as they are written: "-dc", "-de" or "-dc -de".
std::string DecodingOptions(const CommandLine& line) {
  std::string options;
  if (line.given(Option::kReadBzip2)) options = "-dc";
  if (line.given(Option::kInvertBytes)) options += options.empty() ? "-de" : " -de";
  return options;
}

std::string WhatDecodingDoes(const CommandLine& line) {
  if (line.given(Option::kReadBzip2) && line.given(Option::kInvertBytes)) {
    return "decompress and invert";
  }
  return line.given(Option::kReadBzip2) ? "decompress" : "invert";
}

// True when outer is inner or one of its parent directories (both canonical).
bool Contains(const std::string& outer, const std::string& inner) {
  if (outer == inner || outer == "/") return true;
  return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
         inner[outer.size()] == '/';
}

}  // namespace

std::vector<std::string> UnknownArguments(const CommandLine& line) {
  const std::vector<std::string>& arguments = line.arguments();
  // Every argument that some option takes as its value, wherever that option
  // stands (also an earlier occurrence that a later one overrides).
  std::vector<bool> isValue(arguments.size(), false);
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (std::optional<Option> option = OptionTable::Match(arguments[i])) {
      const int count = OptionTable::row(*option).valueCount;
      for (int v = 1; v <= count && i + v < arguments.size(); ++v) isValue[i + v] = true;
    }
  }
  std::vector<std::string> unknown;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (isValue[i] || OptionTable::Match(arguments[i])) continue;
    if (std::find(unknown.begin(), unknown.end(), arguments[i]) == unknown.end()) {
      unknown.push_back(arguments[i]);
    }
  }
  return unknown;
}

std::string UnknownArgumentMessage(const std::string& argument) {
  return "marovetin: ignoring unknown argument " + argument + "\n";
}

bool RunsUpdate(const CommandLine& line) {
  return !line.given(Option::kBinaryToText) && !line.given(Option::kSetUpdateIndex);
}

std::string UnsafeWorkPathRefusal(const CommandLine& line, const std::string& currentDir) {
  if (!RunsUpdate(line)) return std::string();
  const bool decoding = line.given(Option::kReadBzip2) || line.given(Option::kInvertBytes);
  if (!line.given(Option::kWorkPath)) {
    if (!decoding) return std::string();
    return "marovetin: " + DecodingOptions(line) + " without -sw would " + WhatDecodingDoes(line) +
           " every file of the installation in place; name the directory that holds the update "
           "with -sw DIR\n";
  }
  const std::string value = line.value(Option::kWorkPath);
  const std::string workPath = platform::CanonicalPath(currentDir + "/" + value);
  const std::string installation = platform::CanonicalPath(currentDir);
  if (workPath.empty() || installation.empty()) return std::string();  // nothing to apply
  if (workPath == installation) {
    if (!decoding) return std::string();  // the same as no -sw: files stay as they are
    return "marovetin: -sw " + value + " is the installation " + installation +
           " itself: " + DecodingOptions(line) + " would " + WhatDecodingDoes(line) +
           " every file of it in place; name the directory that holds the update\n";
  }
  if (Contains(workPath, installation)) {
    return "marovetin: -sw " + value + ": the work path " + workPath +
           " contains the installation " + installation +
           ", whose files would be applied onto themselves; name the directory that holds the "
           "update\n";
  }
  return std::string();
}

std::string MissingWorkPathMessage(const CommandLine& line, const std::string& workPath) {
  if (!line.given(Option::kWorkPath) || platform::PathExists(workPath)) return std::string();
  std::string shown = workPath;
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return "marovetin: nothing to apply: " + shown + " does not exist\n";
}

}  // namespace launcher

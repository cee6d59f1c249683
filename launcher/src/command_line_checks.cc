#include "launcher/command_line_checks.h"

#include <algorithm>

#include "fileutil/file_util.h"
#include "launcher/usage.h"
#include "launcher/utility_modes.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/path_spelling.h"
#include "update/pack_volumes.h"

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

// A path given on the command line, as the system finds it from currentDir.
std::string FromInstallation(const std::string& currentDir, const std::string& path) {
  return fileutil::IsAbsolutePath(path) ? path : currentDir + "/" + path;
}

// The work path and the installation, both canonical; either empty when it
// does not exist.
struct WorkPathPlace {
  std::string workPath;
  std::string installation;
};

WorkPathPlace PlaceOf(const CommandLine& line, const std::string& currentDir) {
  WorkPathPlace place;
  place.workPath =
      platform::CanonicalPath(FromInstallation(currentDir, line.value(Option::kWorkPath)));
  place.installation = platform::CanonicalPath(currentDir);
  return place;
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
    if (IsQuietArgument(arguments[i].c_str())) continue;  // known, though not an option row
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
  const auto [workPath, installation] = PlaceOf(line, currentDir);
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
  // Also a work path that is, or passes through, a symbolic link to elsewhere:
  // under -df the update deletes what it applied.
  if (!Contains(installation, workPath)) {
    return "marovetin: -sw " + value + ": the work path " + workPath +
           " lies outside the installation " + installation +
           "; name a directory below the installation\n";
  }
  return std::string();
}

std::string WorkPathValue(const CommandLine& line, const std::string& currentDir) {
  const std::string& value = line.value(Option::kWorkPath);
  if (!fileutil::IsAbsolutePath(value)) return value;
  const auto [workPath, installation] = PlaceOf(line, currentDir);
  if (workPath.empty() || installation.empty() || !Contains(installation, workPath)) return value;
  if (workPath == installation) return ".";
  const std::size_t skip = installation == "/" ? 1 : installation.size() + 1;
  return workPath.substr(skip);
}

std::string UpdateIndexValueRefusal(const CommandLine& line) {
  if (!line.given(Option::kSetUpdateIndex)) return std::string();
  std::uint32_t value = 0;
  const std::string& text = line.value(Option::kSetUpdateIndex);
  if (ParseUpdateIndex(text, &value)) return std::string();
  return "marovetin: -sv " + text +
         ": not a decimal number from 0 to 4294967295; nothing was written\n";
}

std::string PackPlaceRefusal(const CommandLine& line, const std::string& currentDir,
                             const std::string& packName, platform::Env* env) {
  // The utility modes log too.
  if (line.given(Option::kLog)) {
    const std::string& log = line.value(Option::kLog);
    if (update::IsInstallationVolume(FromInstallation(currentDir, log), packName, env)) {
      return "marovetin: -log " + log +
             " is a pack volume of the installation; the run log would be written into it; "
             "name another file\n";
    }
  }
  if (RunsUpdate(line) && line.given(Option::kWorkPath) && line.given(Option::kPackName)) {
    const auto [workPath, installation] = PlaceOf(line, currentDir);
    const std::string packDirectory = platform::CanonicalPath(
        platform::DirectoryOf(FromInstallation(currentDir, line.value(Option::kPackName))));
    if (!workPath.empty() && workPath != installation && !packDirectory.empty() &&
        Contains(workPath, packDirectory)) {
      return "marovetin: -sp " + line.value(Option::kPackName) +
             ": the pack volume lies inside the work path " + workPath +
             ", whose files the update applies (and -df deletes); name a volume outside it\n";
    }
  }
  return std::string();
}

std::string MissingWorkPathMessage(const CommandLine& line, const std::string& workPath) {
  if (!line.given(Option::kWorkPath) || platform::PathExists(workPath)) return std::string();
  return "marovetin: nothing to apply: " + platform::WithForwardSlashes(workPath) +
         " does not exist\n";
}

}  // namespace launcher

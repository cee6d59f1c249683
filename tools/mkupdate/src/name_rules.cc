// The updater's search skips directories whose names begin with ".", reads
// "\" as a separator, stores everything below "Pak" in the pack (whatever the
// letter case of "Pak"), and stores a pack file under its path upper-cased
// with "/" between levels.
#include "mkupdate/name_rules.h"

#include <vector>

#include "mkupdate/out_dir.h"
#include "platform/ascii_case.h"

namespace mkupdate {

namespace {

constexpr unsigned kLongestLevel = 255;  // bytes in one level of a file name

std::vector<std::string> Levels(const std::string& path) {
  std::vector<std::string> levels;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find('/', start);
    levels.push_back(path.substr(start, slash - start));
    if (slash == std::string::npos) return levels;
    start = slash + 1;
  }
}

// What both kinds of name share: levels the search reaches and a file
// system can hold.
std::string LevelRefusal(const std::vector<std::string>& levels) {
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const std::string& level = levels[i];
    if (level.empty() || level == "." || level == "..") {
      return "its name has an empty, \".\" or \"..\" level";
    }
    if (level.find('\\') != std::string::npos) {
      return "its name contains \"\\\", which the updater reads as a separator";
    }
    if (level.find('\0') != std::string::npos) return "its name contains a NUL byte";
    if (level.size() > kLongestLevel) return "a level of its name is too long for a file name";
    if (i + 1 < levels.size() && level[0] == '.') {
      return "it lies in the directory \"" + level +
             "\", and the updater does not search directories whose names begin with \".\"";
    }
  }
  return std::string();
}

}  // namespace

std::string CaseKey(const std::string& path) { return platform::LowerAscii(path); }

std::string LooseNameRefusal(const std::string& path) {
  const std::vector<std::string> levels = Levels(path);
  std::string reason = LevelRefusal(levels);
  if (!reason.empty()) return reason;
  if (CaseKey(levels.front()) == "pak") {
    return "it is a loose file below \"Pak\", where the updater stores everything in the pack";
  }
  if (RemovedByEveryRun(path)) return "the updater removes it at the end of every run";
  if (levels.front() == kScratchName) return "OUT keeps its unfinished payloads under that name";
  return std::string();
}

std::string PackNameRefusal(const std::string& name) {
  std::string reason = LevelRefusal(Levels(name));
  if (!reason.empty()) return reason;
  for (char c : name) {
    if (c >= 'a' && c <= 'z') {
      return "its stored name has lower-case letters, and the updater stores names upper-cased";
    }
  }
  return std::string();
}

bool RemovedByEveryRun(const std::string& path) {
  const std::string key = CaseKey(path);
  return key == "marovetin.bak" || key == "marovetin.bin";
}

}  // namespace mkupdate

// What the update keeps back beyond failures of its own: delivered files that
// overwrite each other, pack files the format cannot hold, loose files that
// would land on a pack volume, and, under "-df", whatever is still below the
// work path when the stages are done.
#include <map>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "relative_name.h"
#include "update/update_dialog.h"

namespace update {

namespace {

// The name a relative path lands on where names match without regard to
// letter case: "\" as "/", ASCII letters lower-cased.
std::string LandingName(const std::string& relative) {
  std::string name = platform::LowerAscii(relative);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return name;
}

// Why a file that ListTreeAsIs found below the work path was never reached by
// the update's own search.
std::string LeftoverReason(const platform::TreeEntry& entry) {
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = entry.path.find('/', start);
    const std::string level = entry.path.substr(start, slash - start);
    if (slash != std::string::npos && !level.empty() && level[0] == '.') {
      return "it lies in the directory \"" + level +
             "\", and directories whose names begin with \".\" are not searched";
    }
    if (level.find('\\') != std::string::npos) {
      return "the name \"" + level + "\" contains \"\\\", which the update reads as a separator";
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (entry.kind == platform::TreeEntry::Kind::kOther) return "it is not a regular file";
  return "it was still there after the update";
}

}  // namespace

void UpdateDialog::PlanOverwrites(const std::vector<std::string>& entries,
                                  const std::string& base) {
  // The latest source seen for each landing name, walking the list backwards,
  // so each entry learns which later one takes its name.
  std::map<std::string, std::string> laterSource;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const std::string relative = internal::RelativeTo(*it, base);
    if (relative.empty()) continue;
    const std::string key = SourceKey(*it);
    auto [slot, inserted] = laterSource.emplace(LandingName(relative), key);
    if (inserted) continue;
    // The same file met twice (the pack search and the walk spell it
    // differently) overwrites nothing.
    if (slot->second != key) overwrittenBy_.emplace(key, slot->second);
    slot->second = key;
  }
}

bool UpdateDialog::KeepBackIfOverwritten(const std::string& source) {
  auto it = overwrittenBy_.find(SourceKey(source));
  if (it == overwrittenBy_.end()) return false;
  KeepBack(source, "overwritten by " + it->second + ", whose name differs only in letter case");
  return true;
}

std::string UpdateDialog::PackRefusal(const std::vector<unsigned char>& data) const {
  // A pack directory entry of size 0 is read back as no file at all.
  if (data.empty()) return "it is empty, and a pack volume cannot hold a file of size 0";
  return std::string();
}

std::string UpdateDialog::PackVolumeAt(const std::string& destination) const {
  // The main volume counts even when it could not be loaded.
  if (platform::IsSameFile(destination, host_.packName())) return host_.packName();
  if (packStore_.IsVolume(destination)) return destination;
  return std::string();
}

bool UpdateDialog::WorkPathIsInstallation() const {
  return platform::IsSameFile(SourceDirectory(), host_.currentDir());
}

void UpdateDialog::ReportLeftovers() {
  // Called at the loose stage's end, after its search found the answer.
  if (!host_.deleteSources() || workPathIsInstallation_) return;
  const std::string source = SourceDirectory();
  std::vector<platform::TreeEntry> entries;
  platform::ListTreeAsIs(source, &entries);
  for (const platform::TreeEntry& entry : entries) {
    if (entry.kind == platform::TreeEntry::Kind::kDirectory) continue;
    const std::string path = source + "/" + entry.path;
    if (!keptBack_.insert(SourceKey(path)).second) continue;  // named already
    ShowMessage("not applied " + path + ": " + LeftoverReason(entry));
  }
}

}  // namespace update

// What the update keeps back beyond failures of its own: delivered files that
// overwrite each other, pack files the format cannot hold, loose files that
// would land on a pack volume, and, under "-df", whatever is still below the
// work path when the stages are done.
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "relative_name.h"
#include "update/pack_volumes.h"
#include "update/update_dialog.h"

namespace update {

namespace {

// Why a file that ListTreeAsIs found below the work path was never reached by
// the update's own search.
std::string LeftoverReason(const platform::TreeEntry& entry) {
  const std::string keptBackLevel = std::string(kKeptBackDirectory) + "/";
  if (entry.path.compare(0, keptBackLevel.size(), keptBackLevel) == 0) {
    return "an earlier run kept it back there, since a later file took its name";
  }
  if (entry.kind == platform::TreeEntry::Kind::kTooLong) {
    return "its path is longer than the system allows";
  }
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

bool UpdateDialog::KeepBackIfOverwritten(const std::string& source) {
  const std::string* later = ledger_.OverwrittenBy(source);
  if (later == nullptr) return false;
  if (IsKeptBack(source)) return true;
  std::string reason = "overwritten by " + *later + ", whose name differs only in letter case";
  // Under "-df" the later file goes once it is in place, and a rerun would
  // apply this one over it: it is put where no search looks.
  if (host_.deleteSources()) {
    const std::string aside = MoveAside(source);
    reason += aside.empty() ? "; it could not be moved aside and stays where it is"
                            : "; moved to " + aside;
  }
  KeepBack(source, reason);
  return true;
}

std::string UpdateDialog::MoveAside(const std::string& source) {
  const std::string workPath = SourceDirectory();
  const std::string relative = SourceLedger::Key(internal::RelativeTo(source, workPath));
  if (relative.empty()) return std::string();
  const std::string keptBack = workPath + "/" + kKeptBackDirectory;
  host_.env()->CreateDirectory(keptBack);
  fileutil::MakeDirectories(relative, keptBack, host_.env());
  // An earlier run's file under that name stays (letter case aside, as
  // names are matched), and so does one that cannot be looked at.
  const std::string wanted = keptBack + "/" + relative;
  std::string target = wanted;
  platform::FileStamp there;
  for (int n = 1;; ++n) {
    if (!host_.env()->StampFile(target, &there).ok()) return std::string();
    if (!there.exists) break;
    target = wanted + "." + std::to_string(n);
  }
  readAhead_.BeforeChange(source);
  if (!host_.env()->RenameFile(source, target).ok()) return std::string();
  ledger_.NoteMovedAside(target, relative, workPath);
  return target;
}

std::string UpdateDialog::PackRefusal(const std::vector<unsigned char>& data) const {
  // A pack directory entry of size 0 is read back as no file at all.
  if (data.empty()) return "it is empty, and a pack volume cannot hold a file of size 0";
  return std::string();
}

std::string UpdateDialog::PackVolumeAt(const std::string& destination) const {
  // The main volume counts even when it could not be loaded, and when it
  // cannot be looked at: it may be the destination.
  if (host_.env()->MayBeSameFile(destination, host_.packName())) return host_.packName();
  if (packStore_.IsVolume(destination)) return destination;
  // Also the volumes of a set this run does not mount (the default set under
  // "-sp", and either set's chained volumes).
  if (IsInstallationVolume(destination, host_.packName(), host_.env())) return destination;
  return std::string();
}

bool UpdateDialog::WorkPathIsInstallation() const {
  return host_.env()->IsSameFile(SourceDirectory(), host_.currentDir());
}

void UpdateDialog::ReportLeftovers() {
  // Called at the loose stage's end, after its search found the answer.
  if (!host_.deleteSources() || looseStage_.workPathIsInstallation()) return;
  const std::string source = SourceDirectory();
  std::vector<platform::TreeEntry> entries;
  platform::ListTreeAsIs(source, &entries);
  for (const platform::TreeEntry& entry : entries) {
    if (entry.kind == platform::TreeEntry::Kind::kDirectory) continue;
    const std::string path = source + "/" + entry.path;
    if (ledger_.WasMovedAside(path)) continue;  // named where it was
    if (!ledger_.NoteKeptBack(path)) continue;  // named already
    ShowMessage("not applied " + path + ": " + LeftoverReason(entry));
  }
}

}  // namespace update

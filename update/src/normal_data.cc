// Loose update files: everything below the work path is written into the
// installation (the current directory) under the same relative name.
#include <cstdio>
#include <utility>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "relative_name.h"
#include "update/update_dialog.h"

namespace update {

LParam UpdateDialog::findNormalFiles(WParam, LParam) {
  Print("FindNormalDataFile\n");
  const std::string source = SourceDirectory();
  // Without a work path of its own every file is its own destination, and
  // two names that differ in case are two files of the installation.
  looseStage_.Begin(WorkPathIsInstallation(), host_.deleteSources(), host_.payloadsAsDelivered());
  // Appended to what the pack search left: those entries come first. Links
  // to directories are not followed; below a work path of its own each one
  // is named (the installation's own links are its own business).
  std::vector<std::string> links;
  std::vector<fileutil::UnlistedDirectory> unlisted;
  fileutil::ListFiles(source, fileList_, &links, &unlisted, host_.env());
  KeepBackUnlisted(unlisted);
  if (!looseStage_.workPathIsInstallation()) {
    KeepBackLinks(links);
    ledger_.PlanOverwrites(fileList_, source);
  }
  // Files delivered as they are, which "-df" deletes once they are in place,
  // are moved there rather than read: nothing to decode ahead then.
  if (looseStage_.movesSources()) {
    readAhead_.Start({});
  } else {
    // The pack files listed again here are gone when the pack stage stored
    // and removed them: no need to look for them.
    std::vector<bool> removed(fileList_.size());
    for (std::size_t i = 0; i < fileList_.size(); ++i) {
      removed[i] = ledger_.WasRemoved(fileList_[i]);
    }
    // Each decoded file is also written ahead, unnamed, in its directory in
    // the installation (when that is there), so that at its turn it is only
    // named: making files is work the decoding threads can take over.
    std::string installation;
    fileutil::CurrentDirectory(installation);
    readAhead_.Start(fileList_, std::move(removed),
                     looseStage_.MakePreparer(installation, source));
  }
  ResetProgressForList();
  PostMessage(WM_STEPDONE);
  Print("FileSize is %d\n", static_cast<int>(fileList_.size()));
  fileIndex_ = 0;
  PostMessage(WM_CHANGESTATE, 1);
  return 0;
}

LParam UpdateDialog::applyNormalFile(WParam, LParam) {
  Print("Update Normal Data!\n");
  const std::string source = SourceDirectory();
  Print("FileSize is %d\n", static_cast<int>(fileList_.size()));

  dataBuffer_.clear();
  const std::string* current = CurrentEntry();
  // A file already kept back (by the pack stage) is not applied here either,
  // nor a pack file that the pack stage's search missed.
  if (current != nullptr && MissedByPackSearch(*current)) {
    KeepBack(*current, "was not stored in the pack: a directory of the pack search could not be "
                       "listed");
  } else if (current != nullptr && !IsKeptBack(*current)) {
    ApplyLooseFile(*current, source);
  }
  // Every entry moves the bar, also one that was skipped or kept back: the
  // last frame shows the stage finished.
  if (current != nullptr) StepDone();
  const bool last =
      fileList_.empty() || static_cast<std::size_t>(fileIndex_) + 1 >= fileList_.size();
  if (last) {
    // The run makes no more files: the sources deleted so far may be freed
    // now, meanwhile, and those deleted from here on at once.
    ledger_.Release();
    CommitLooseFiles();
    ReportLeftovers();
    // Sources go only at commits, and until the last one the source of the
    // file just staged is still there: only now can the work path be empty.
    RemoveEmptiedDirectories(source);
  }
  PostNextFile();
  return 0;
}

bool UpdateDialog::LoadLooseSource(const std::string& entry, LooseSource* loaded) {
  const std::size_t index = static_cast<std::size_t>(fileIndex_);
  if (looseStage_.movesSources()) {
    if (ledger_.WasRemoved(entry)) return false;  // the pack stage deleted it
    // A source that is to be moved needs only its size for now; its bytes
    // are read only if it cannot be moved after all. One that a later file
    // overwrites stays, so it is never moved.
    if (ledger_.OverwrittenBy(entry) == nullptr) {
      const platform::FileStamp stamp = host_.env()->StampOf(entry);
      if (stamp.exists && !stamp.directory && stamp.size >= 0) {
        loaded->moving = true;
        loaded->size = static_cast<std::uint64_t>(stamp.size);
        return true;
      }
    }
  }
  return TakeLooseSource(index, entry, loaded);
}

bool UpdateDialog::TakeLooseSource(std::size_t index, const std::string& entry,
                                   LooseSource* loaded) {
  const int result = readAhead_.Take(index, entry, dataBuffer_, &loaded->prepared);
  if (result == -1) return false;
  loaded->moving = false;
  loaded->inPieces = result == kLoadInPieces;
  loaded->size = dataBuffer_.size();
  return true;
}

void UpdateDialog::ApplyLooseFile(const std::string& entry, const std::string& source) {
  // A pack update file is listed here again (ahead of the work path's own
  // files, and once more where the walk meets "Pak") and written as a loose
  // file as well. Once the pack holds it and "-df" deleted its source, that
  // copy is a by-product whose failure keeps nothing back. Without "-df" the
  // copy under "Pak/" is part of the update, and its failure is named.
  const bool inPack = WasStoredInPack(entry) && host_.deleteSources();
  LooseSource loaded;
  if (!LoadLooseSource(entry, &loaded)) {
    const std::string reason = LoadFailure(entry);
    if (!inPack) KeepBack(entry, reason);
    return;
  }
  // The destination directory, read afresh for every file that is applied
  // (not for the pack files listed again, which the pack stage deleted).
  std::string installation;
  fileutil::CurrentDirectory(installation);
  const std::string relative = internal::RelativeTo(entry, source);
  const std::string destination = installation + "/" + relative;
  std::string volume;
  // Which file is there decides whether it may be replaced (a pack volume may
  // not, the update file itself need not): a look that failed is no answer.
  platform::FileStamp existing;
  bool itself = false;
  platform::Status looked;
  if (!relative.empty()) {
    looked = host_.env()->StampFile(destination, &existing);
    platform::FileStamp delivered;
    if (looked.ok() && existing.exists) looked = host_.env()->StampFile(entry, &delivered);
    itself = looked.ok() && existing.SameFileAs(delivered);
  }
  if (relative.empty()) {
    // The work path names a file, not a directory: the search lists it as its
    // own entry, and there is no name to write it under.
    if (!inPack) KeepBack(entry, "has no name below the work path");
  } else if (!looked.ok()) {
    if (!inPack) KeepBack(entry, "could not be written to " + Shown(looked.ToString()));
  } else if (itself) {
    // Without a separate work path an update file is its own destination:
    // its bytes are already in place (the decoding options that would change
    // them are refused there), and it is not deleted. With one, a run cut
    // short moved the file there and did not get to delete the source: it
    // goes once the commit has made the file durable.
    Log("%s size=%llu\n", relative.c_str(), static_cast<unsigned long long>(loaded.size));
    if (!looseStage_.workPathIsInstallation()) {
      looseStage_.batch().StageInPlace(destination, LocateInBatch(destination, existing, 0));
      looseStage_.NoteStaged({entry, relative, inPack});
    }
  } else if (existing.exists && !(volume = PackVolumeAt(destination)).empty()) {
    KeepBack(entry, "would overwrite the pack volume " + Shown(volume));
  } else {
    // A destination that exists has its directories; otherwise they are made
    // unless its own directory is there already.
    if (!existing.exists && !platform::IsDirectory(platform::DirectoryOf(destination))) {
      fileutil::MakeDirectories(relative, installation, host_.env());
    }
    LooseFileBatch::Target target =
        LocateInBatch(destination, existing, loaded.moving ? 0 : loaded.size);
    target.delivered = entry;  // a new file takes its permission bits
    StageLooseFile(entry, relative, destination, target, inPack, loaded);
  }
}

LooseFileBatch::Target UpdateDialog::LocateInBatch(const std::string& destination,
                                                   const platform::FileStamp& existing,
                                                   std::uint64_t size) {
  LooseFileBatch::Target target = looseStage_.batch().Locate(destination, existing);
  if (looseStage_.batch().Full(size) || looseStage_.batch().Holds(target)) {
    CommitLooseFiles();
    target = looseStage_.batch().Locate(destination);  // the commit may have put a file there
  }
  return target;
}

void UpdateDialog::StageLooseFile(const std::string& entry, const std::string& relative,
                                  const std::string& destination,
                                  const LooseFileBatch::Target& target, bool inPack,
                                  LooseSource& loaded) {
  const bool moved = loaded.moving && looseStage_.batch().StageByLink(destination, target, entry);
  if (loaded.moving && !moved) {
    // Not movable after all: its bytes are copied.
    if (!TakeLooseSource(static_cast<std::size_t>(fileIndex_), entry, &loaded)) {
      const std::string reason = LoadFailure(entry);
      if (!inPack) KeepBack(entry, reason);
      return;
    }
  }
  platform::Status staged = platform::Status::Ok();
  if (loaded.inPieces) {
    // Too large for memory: decoded straight into its temporary.
    PayloadResult decoded;
    staged = looseStage_.batch().StageFrom(
        destination, target,
        [this, &entry](PayloadSink& sink) { return host_.decodeFile(entry, sink); }, &decoded,
        &loaded.size);
    Log("%s size=%llu\n", relative.c_str(), static_cast<unsigned long long>(loaded.size));
    if (!decoded.ok()) {
      if (!inPack) KeepBack(entry, decoded.failure.empty() ? "cannot be read" : decoded.failure);
      return;
    }
  } else {
    Log("%s size=%llu\n", relative.c_str(), static_cast<unsigned long long>(loaded.size));
    // A file written ahead is only named; otherwise the bytes are written now.
    const bool named = moved || (loaded.prepared != nullptr &&
                                 looseStage_.batch().StagePrepared(
                                     destination, target, *loaded.prepared, dataBuffer_.size()));
    if (!named) {
      staged =
          looseStage_.batch().Stage(destination, target, dataBuffer_.data(), dataBuffer_.size());
    }
  }
  if (!staged.ok()) {
    if (!inPack) KeepBack(entry, "could not be written to " + Shown(staged.ToString()));
  } else {
    looseStage_.NoteStaged({entry, relative, inPack});
  }
}

void UpdateDialog::CommitLooseFiles() {
  if (!looseStage_.HasPending()) return;
  const std::string source = SourceDirectory();
  for (const auto& outcome : looseStage_.Commit()) {
    const LooseStage::Pending& file = outcome.first;
    if (!outcome.second.ok()) {
      if (!file.inPack) {
        KeepBack(file.entry, "could not be written to " + Shown(outcome.second.ToString()));
      }
    } else if (!KeepBackIfOverwritten(file.entry) && host_.deleteSources() &&
               !IsKeptBack(file.entry)) {
      // Only now that the new file is in place and durable may the source go.
      RemoveSource(file.entry, file.relative, source);
    }
  }
}

}  // namespace update

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
  // Appended to what the pack search left: those entries come first.
  fileutil::ListFiles(source, fileList_);
  // Without a work path of its own every file is its own destination, and
  // two names that differ in case are two files of the installation.
  if (!WorkPathIsInstallation()) PlanOverwrites(fileList_, source);
  // The pack files listed again here are gone when the pack stage stored and
  // removed them: no need to look for them.
  std::vector<bool> removed(fileList_.size());
  for (std::size_t i = 0; i < fileList_.size(); ++i) {
    removed[i] = removedSources_.count(SourceKey(fileList_[i])) != 0;
  }
  readAhead_.Start(fileList_, std::move(removed));
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
  std::string destinationDirectory;
  fileutil::CurrentDirectory(destinationDirectory);

  dataBuffer_.clear();
  const std::string* current = CurrentEntry();
  // A file already kept back (by the pack stage) is not applied here either.
  if (current != nullptr && !IsKeptBack(*current)) {
    const std::string entry = *current;
    // A pack update file is listed here again (ahead of the work path's own
    // files, and once more where the walk meets "Pak") and written as a loose
    // file as well. Once the pack holds it, that copy is a by-product: its
    // failure (the source already deleted, a "Pak" directory level missing in
    // the installation) keeps nothing back.
    const bool inPack = WasStoredInPack(entry);
    if (readAhead_.Take(static_cast<std::size_t>(fileIndex_), entry, dataBuffer_) == -1) {
      if (!inPack) KeepBack(entry, "cannot be read");
    } else {
      const std::string relative = internal::RelativeTo(entry, source);
      const std::string destination = destinationDirectory + "/" + relative;
      std::string volume;
      if (relative.empty()) {
        // The work path names a file, not a directory: the search lists it
        // as its own entry, and there is no name to write it under.
        if (!inPack) KeepBack(entry, "has no name below the work path");
      } else if (const platform::FileStamp existing = platform::StampOf(destination);
                 existing.exists && platform::IsSameFile(entry, destination)) {
        // Without a separate work path an update file is its own
        // destination: its bytes are already in place (the decoding options
        // that would change them are refused there), and it is not deleted.
        Log("%s size=%zu\n", relative.c_str(), dataBuffer_.size());
      } else if (existing.exists && !(volume = PackVolumeAt(destination)).empty()) {
        KeepBack(entry, "would overwrite the pack volume " + Shown(volume));
      } else {
        // A destination that exists has its directories; otherwise they are
        // made unless its own directory is there already.
        if (!existing.exists && !platform::IsDirectory(platform::DirectoryOf(destination))) {
          fileutil::MakeDirectories(relative, destinationDirectory);
        }
        LooseFileBatch::Target target = looseBatch_.Locate(destination, existing);
        if (looseBatch_.Full(dataBuffer_.size()) || looseBatch_.Holds(target)) {
          CommitLooseFiles();
          target = looseBatch_.Locate(destination);  // the commit may have put a file there
        }
        Log("%s size=%zu\n", relative.c_str(), dataBuffer_.size());
        const platform::Status staged =
            looseBatch_.Stage(destination, target, dataBuffer_.data(), dataBuffer_.size());
        if (!staged.ok()) {
          if (!inPack) KeepBack(entry, "could not be written to " + Shown(staged.ToString()));
        } else {
          pendingLoose_.push_back(PendingLooseFile{entry, relative, inPack});
        }
      }
      StepDone();
    }
  }
  const bool last =
      fileList_.empty() || static_cast<std::size_t>(fileIndex_) + 1 >= fileList_.size();
  if (last) {
    CommitLooseFiles();
    ReportLeftovers();
  }
  platform::RemoveDirectory(source);
  PostNextFile();
  return 0;
}

void UpdateDialog::CommitLooseFiles() {
  if (pendingLoose_.empty()) return;
  const std::vector<platform::Status> results = looseBatch_.Commit();
  const std::string source = SourceDirectory();
  for (std::size_t i = 0; i < pendingLoose_.size() && i < results.size(); ++i) {
    const PendingLooseFile& file = pendingLoose_[i];
    if (!results[i].ok()) {
      if (!file.inPack) {
        KeepBack(file.entry, "could not be written to " + Shown(results[i].ToString()));
      }
    } else if (!KeepBackIfOverwritten(file.entry) && host_.deleteSources() &&
               !IsKeptBack(file.entry)) {
      // Only now that the new file is in place and durable may the source go.
      RemoveSource(file.entry, file.relative, source);
    }
  }
  pendingLoose_.clear();
}

}  // namespace update

// Loose update files: everything below the work path is written into the
// installation (the current directory) under the same relative name.
#include <cstdio>

#include "fileutil/file_util.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "relative_name.h"
#include "update/update_dialog.h"

namespace update {

namespace {

// Writes the whole buffer to path, created or truncated. True only when the
// file opened, every byte was written and the close succeeded, so that the
// caller may then give up its own copy.
bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& buffer) {
  platform::SetAttributesNormal(path);
  std::FILE* file = platform::OpenFile(path, "wb");
  if (file == nullptr) return false;
  std::setvbuf(file, nullptr, _IONBF, 0);  // one write of the whole buffer
  bool complete = true;
  if (!buffer.empty()) {
    complete = std::fwrite(buffer.data(), 1, buffer.size(), file) == buffer.size();
  }
  if (std::fclose(file) != 0) complete = false;
  return complete;
}

}  // namespace

LParam UpdateDialog::findNormalFiles(WParam, LParam) {
  Print("FindNormalDataFile\n");
  const std::string source = SourceDirectory();
  // Appended to what the pack search left: those entries come first.
  fileutil::ListFiles(source, fileList_);
  readAhead_.Start(fileList_);
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
  if (const std::string* current = CurrentEntry()) {
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
      if (relative.empty()) {
        // The work path names a file, not a directory: the search lists it
        // as its own entry, and there is no name to write it under.
        if (!inPack) KeepBack(entry, "has no name below the work path");
      } else {
        fileutil::MakeDirectories(relative, destinationDirectory);
        Log("%s size=%zu\n", relative.c_str(), dataBuffer_.size());
        const std::string destination = destinationDirectory + "/" + relative;
        readAhead_.BeforeChange(destination);
        if (!WriteWholeFile(destination, dataBuffer_)) {
          if (!inPack) KeepBack(entry, "could not be written to " + destination);
        } else if (host_.deleteSources() && !IsKeptBack(entry) &&
                   !platform::IsSameFile(entry, destination)) {
          // Without a separate work path an update file is its own
          // destination: it was rewritten in place and must not be deleted.
          // (Compared after the write, when both exist and resolve at once.)
          RemoveSource(entry, relative, source);
        }
      }
      StepDone();
    }
  }
  platform::RemoveDirectory(source);
  PostNextFile();
  return 0;
}

}  // namespace update

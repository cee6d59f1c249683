// Pack update files: everything below the "Pak" directory of the work path is
// stored, under its path relative to that directory, in the pack file system,
// in batches that each end with one synced commit. A source is deleted only
// after the commit that holds its content.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

#include "file_payload_sink.h"
#include "fileutil/file_util.h"
#include "platform/file_system.h"
#include "update/update_dialog.h"

namespace update {

namespace {

// Suffix of the scratch file beside the pack that a compressed pack file too
// large for memory is decoded into before it is stored.
constexpr char kScratchSuffix[] = ".marovetin-decoded";

}  // namespace

LParam UpdateDialog::findPackFiles(WParam, LParam) {
  Print("FindAddDataInPakFile\n");
  fileList_.clear();
  Print("%s\n", host_.workPath().c_str());
  const std::string packSource = PackSource();
  // "Pak" in every letter case feeds the pack; links are not followed.
  std::vector<std::string> links;
  std::vector<fileutil::UnlistedDirectory> unlisted;
  std::vector<std::string> directories = PackDirectories(&links, &unlisted);
  for (const std::string& directory : directories) {
    fileutil::ListFiles(directory, fileList_, &links, &unlisted, host_.env());
  }
  KeepBackLinks(links);
  KeepBackUnlisted(unlisted);
  packStage_.SetDirectories(std::move(directories), !unlisted.empty());
  // Two spellings of "Pak" land on one name in the pack.
  ledger_.PlanOverwrites(fileList_, SourceDirectory());
  readAhead_.Start(fileList_);
  Print("%s\n", packSource.c_str());
  ResetProgressForList();
  if (!fileList_.empty()) {
    PostMessage(WM_CHANGESTATE, 1);
  } else {
    // Nothing for the pack: go straight on with the loose files.
    state_ = UpdateState::kFindLooseFiles;
    PostMessage(WM_CHANGESTATE, 0);
  }
  return 0;
}

LParam UpdateDialog::applyPackFile(WParam, LParam) {
  Print("%s\n", host_.workPath().c_str());
  const std::string packSource = PackSource();
  Print("%s\n", packSource.c_str());

  dataBuffer_.clear();
  bool stageEnds = CurrentEntry() == nullptr;
  if (const std::string* current = CurrentEntry()) {
    const std::string entry = *current;
    int loaded = readAhead_.Take(static_cast<std::size_t>(fileIndex_), entry, dataBuffer_);
    const std::string relative = NameInPack(entry);

    if (loaded == kLoadInPieces && !relative.empty()) {
      StorePackFileInPieces(entry, relative);
    } else {
      std::string refusal;
      if (loaded == -1) {
        KeepBack(entry, LoadFailure(entry));
      } else if (relative.empty()) {
        KeepBack(entry, "cannot be stored in the pack");
      } else if (!(refusal = VolumeSizeRefusal(dataBuffer_.size())).empty() ||
                 !(refusal = PackRefusal(dataBuffer_)).empty()) {
        KeepBack(entry, refusal);
      } else {
        // Logged before the store, so the line is there even when the store
        // fails (the kept-back line then follows it).
        LogPackSize(entry, dataBuffer_.size());
        unsigned char none = 0;
        unsigned char* data = dataBuffer_.empty() ? &none : dataBuffer_.data();
        packStage_.OpenBatch();
        bool stored =
            packStore_.AddFile(relative, data, static_cast<std::uint32_t>(dataBuffer_.size()));
        if (!stored) {
          const std::string why = packStore_.LastFailure();
          KeepBack(entry, why.empty() ? std::string("could not be stored in the pack")
                                      : "could not be stored in the pack: " + why);
        } else {
          packStage_.NoteStored({entry, relative, dataBuffer_.size()});
        }
      }
    }
    const bool last = static_cast<std::size_t>(fileIndex_) + 1 >= fileList_.size();
    if (packStage_.batchOpen() && (last || packStage_.BatchFull())) {
      CommitPackBatch();
    }
    stageEnds = last;
    StepDone();
  }
  // Only at the stage's end does what its deletions emptied go, each
  // directory asked once. (Asking after every file would cost more than the
  // file on a large update: a refused removal still walks what the system
  // remembers of the directory's entries, deleted ones included.)
  // Each spelling of "Pak" that is a directory; a link is never walked.
  if (stageEnds) {
    for (const std::string& directory : packStage_.directories()) {
      RemoveEmptiedDirectories(directory);
    }
  }
  PostNextFile();
  return 0;
}

std::string UpdateDialog::VolumeSizeRefusal(std::uint64_t size) const {
  const std::uint64_t largest = packStore_.LargestFileSize();
  if (size <= largest) return std::string();
  return "too large for a pack volume (" + std::to_string(size) +
         " bytes; a volume holds at most " + std::to_string(largest) + ")";
}

void UpdateDialog::LogPackSize(const std::string& entry, std::uint64_t size) {
  Log("%s size=%llu\n", entry.c_str(), static_cast<unsigned long long>(size));
}

void UpdateDialog::StorePackFileInPieces(const std::string& entry, const std::string& relative) {
  std::string refusal;
  std::uint64_t size = 0;
  bool stored = false;
  if (std::unique_ptr<PayloadReader> reader = host_.openPlainPayload(entry)) {
    // The size is known before the bytes: the region is reserved from it and
    // the bytes go there as they are read.
    size = reader->size();
    refusal = VolumeSizeRefusal(size);
    if (refusal.empty()) {
      LogPackSize(entry, size);
      packStage_.OpenBatch();
      stored = packStore_.AddFileFromSource(
          relative, size, [&reader](unsigned char* buffer, std::uint32_t length) {
            return reader->Read(buffer, length);
          });
      if (!stored) refusal = reader->failure();
    }
  } else {
    // The size comes with the last byte: the payload is decoded into a
    // scratch file first, and stored from there. Past what a volume holds
    // its bytes are only counted, for the message.
    internal::FilePayloadSink scratch(host_.env(), host_.packName() + kScratchSuffix,
                                      packStore_.LargestFileSize());
    const PayloadResult decoded = host_.decodeFile(entry, scratch);
    if (decoded.ok()) scratch.Finish();
    size = scratch.size();
    if (!scratch.status().ok()) {
      refusal = "could not be decoded into " + scratch.status().ToString();
    } else if (!decoded.ok()) {
      refusal = decoded.failure.empty() ? std::string("cannot be read") : decoded.failure;
    } else {
      refusal = VolumeSizeRefusal(size);
    }
    if (refusal.empty()) {
      LogPackSize(entry, size);
      packStage_.OpenBatch();
      std::uint64_t offset = 0;
      stored = packStore_.AddFileFromSource(
          relative, size, [&scratch, &offset](unsigned char* buffer, std::uint32_t length) {
            const bool read = scratch.ReadAt(offset, buffer, length);
            offset += length;
            return read;
          });
      if (!stored && !scratch.status().ok()) refusal = scratch.status().ToString();
    }
    scratch.Remove();
  }
  if (stored) {
    packStage_.NoteStored({entry, relative, size});
    return;
  }
  if (refusal.empty()) {
    const std::string why = packStore_.LastFailure();
    refusal = why.empty() ? std::string("could not be stored in the pack")
                          : "could not be stored in the pack: " + why;
  }
  KeepBack(entry, refusal);
}

void UpdateDialog::CommitPackBatch() {
  std::vector<PackStage::Source> sources;
  const platform::Status committed = packStage_.CommitBatch(&sources);
  for (const PackStage::Source& source : sources) {
    if (!committed.ok()) {
      KeepBack(source.entry, "could not be stored in the pack: " + committed.ToString());
      continue;
    }
    ledger_.NoteStoredInPack(source.entry);
    // Only now that the pack holds the bytes durably may the source go, and
    // only when no later delivered file took its name. A compressed source is
    // smaller than the bytes stored from it, which is close enough to tell a
    // small file.
    if (!KeepBackIfOverwritten(source.entry) && host_.deleteSources()) {
      RemoveSource(source.entry, source.relative, PackDirectoryOf(source.entry), source.size);
    }
  }
}

void UpdateDialog::RemoveSource(const std::string& source, const std::string& relative,
                                const std::string& base, std::uint64_t size) {
  readAhead_.BeforeChange(source);
  ledger_.Delete(source, relative, base, size);
  Log("Remove Dir = %s \n", source.c_str());
}

void UpdateDialog::RemoveEmptiedDirectories(const std::string& base) {
  ledger_.RemoveEmptied([this](const std::string& text) { WriteStandardOutput(text); });
  if (host_.env()->RemoveDirectory(base).ok() || !host_.deleteSources() ||
      WorkPathIsInstallation()) {
    return;
  }
  // Something is still below base. What a run that was cut short emptied
  // (this one never deleted a file there) or what came empty is found by one
  // walk and removed quietly: the lines above named what stays.
  ledger_.NoteDirectoriesBelow(base);
  ledger_.RemoveEmptied([](const std::string&) {});
  host_.env()->RemoveDirectory(base).ok();
}

}  // namespace update

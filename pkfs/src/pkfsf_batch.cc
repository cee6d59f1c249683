// Committing a batch across the volumes of a set: each pass writes every
// changed volume's directory aside, then installs them by their headers, in
// an order that keeps every stop readable: later volumes first (so that a
// new volume is complete before the trailer that links it, and a copy that
// moved to a later volume is durable there before its old volume lets it
// go), and in a second pass the removals of copies that moved to an earlier
// volume, whose copy the later one would shadow until then. A name is read
// from the latest volume that holds it, so between two commits each reads its
// old bytes or its new ones.
#include <memory>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/file_system.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

// One volume's directory to write, with the records it keeps for now.
struct DirectoryWrite {
  PackArchive* volume;
  const std::vector<FileHead>* keep;
};

// Writes every directory of a pass aside first (tables and data durable, no
// header changed), and only then installs them, in the order given. A table
// that cannot be written, the most likely failure (a full disk), thus leaves
// every header on disk as it was, with nothing to put back.
platform::Status WriteDirectories(const std::vector<DirectoryWrite>& writes) {
  std::vector<PackArchive::PreparedDirectory> prepared(writes.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const platform::Status status =
        writes[i].volume->PrepareDirectory(*writes[i].keep, &prepared[i]);
    if (!status.ok()) return status;
  }
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const platform::Status status = writes[i].volume->InstallDirectory(prepared[i]);
    if (!status.ok()) return status;
  }
  return platform::Status::Ok();
}

}  // namespace

void CPKFSF::BeginBatch() { inBatch_ = true; }

platform::Status CPKFSF::CommitBatch() {
  ScopeTimer timer("CommitBatch");
  inBatch_ = false;
  std::vector<PackArchive*> changed;
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume->changed()) changed.push_back(volume.get());
  }
  if (changed.empty()) return platform::Status::Ok();
  const platform::Status refusal = WriteRefusal();
  if (!refusal.ok()) {
    RollBack(changed);
    NoteFailure(refusal);
    return refusal;
  }

  // Archives are in chain order: walking back installs each new volume before
  // the volume whose trailer names it. A copy that moved to an earlier
  // volume stays named where it was until the second pass.
  std::vector<std::vector<FileHead>> deferred(changed.size());
  for (std::size_t i = 0; i < changed.size(); ++i) deferred[i] = changed[i]->DeferredRemovals();
  std::vector<DirectoryWrite> first, second;
  for (std::size_t i = changed.size(); i-- > 0;) {
    if (changed[i]->NeedsWrite(deferred[i].size())) first.push_back({changed[i], &deferred[i]});
  }
  const std::vector<FileHead> none;
  for (std::size_t i = 0; i < changed.size(); ++i) {
    if (!deferred[i].empty()) second.push_back({changed[i], &none});
  }
  for (const std::vector<DirectoryWrite>* pass : {&first, &second}) {
    const platform::Status status = WriteDirectories(*pass);
    if (!status.ok()) {
      RollBack(changed);
      NoteFailure(status);
      return status;
    }
  }
  for (PackArchive* volume : changed) volume->FinishBatch();
  return platform::Status::Ok();
}

void CPKFSF::AbandonBatch() {
  inBatch_ = false;
  std::vector<PackArchive*> changed;
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume->changed()) changed.push_back(volume.get());
  }
  // No header was written yet, so nothing on disk names the batch.
  if (!changed.empty()) RollBack(changed);
}

void CPKFSF::RollBack(const std::vector<PackArchive*>& changed) {
  std::vector<PackArchive*> created;
  bool reverted = true;
  for (PackArchive* volume : changed) {
    if (volume->created()) {
      created.push_back(volume);
      continue;
    }
    // The old table was never touched, so only the header may need to name
    // it again.
    reverted &= volume->RevertHeader().ok();
    volume->AbandonBatch();
  }
  // A header that could not be put back may still link a new volume: its
  // file then stays, unused once the header is right again.
  for (PackArchive* volume : created) DropVolume(volume, /*deleteFile=*/reverted);
  // Names resolve to the last volume of the chain that holds them.
  if (manager_ != nullptr) {
    for (const std::unique_ptr<PackArchive>& volume : archives_) {
      for (const HeadPtr& head : volume->heads()) manager_->AddName(head.get());
    }
  }
}

void CPKFSF::DropVolume(PackArchive* volume, bool deleteFile) {
  const std::string name = volume->name();
  if (manager_ != nullptr) {
    for (CFSFile* handle : manager_->openFiles()) {
      if (handle->archive != volume) continue;
      handle->entry = nullptr;
      handle->archive = nullptr;
      handle->cache->valid = false;
    }
  }
  for (const std::unique_ptr<PackArchive>& other : archives_) {
    if (other->next() == volume) other->set_next(nullptr);
  }
  for (auto it = archives_.begin(); it != archives_.end(); ++it) {
    if (it->get() == volume) {
      archives_.erase(it);  // closes its file
      break;
    }
  }
  if (!deleteFile) return;
  // Best effort: a volume left behind is an empty one that no trailer names.
  env()->DeleteFile(name);
  env()->SyncDirectory(platform::DirectoryOf(name));
}

}  // namespace pkfs

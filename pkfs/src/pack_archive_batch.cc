// A volume's share of a batch: the directory on disk recorded before the
// first change, what the batch took out or stored, and the commit or the
// return to the recorded state.
#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"

namespace pkfs {

void PackArchive::Touch() {
  if (base_ != nullptr) return;
  base_ = std::make_unique<BatchBase>();
  base_->heads.reserve(heads_.size());
  for (const HeadPtr& head : heads_) {
    base_->heads.emplace_back(head.get(), head->size);
  }
  base_->tableOffset = tableOffset_;
  base_->tableSize = tableSize_;
  base_->headCount = headCount_;
  base_->next = next_;
  if (trailer_ != nullptr) {
    base_->hadTrailer = true;
    base_->trailer = *trailer_;
  }
}

void PackArchive::MarkCreated() {
  Touch();
  base_->created = true;
}

bool PackArchive::TakeOut(const std::string& name) {
  if (FindHead(name) == nullptr) return false;
  Touch();  // before the table changes
  std::vector<DetachedHead> detached = DetachHeads(name);
  for (DetachedHead& entry : detached) {
    ForgetName(entry.second.get());
    if (base_->added.erase(entry.second.get()) != 0) {
      // Stored in this batch: nothing on disk names it.
      DisposeHead(std::move(entry.second));
    } else {
      base_->removed.push_back(std::move(entry.second));
    }
  }
  return true;
}

void PackArchive::DisposeHead(HeadPtr head) {
  ForgetName(head.get());
  if (!ReleaseRegion(head->start, head->size)) RebuildLeakList();
  CFSManager* names = manager();
  bool stillOpen = false;
  if (names != nullptr) {
    for (const CFSFile* handle : names->openFiles()) stillOpen |= handle->entry == head.get();
  }
  if (stillOpen) {
    // Its bytes may be reused from now on: the handle sees an empty file.
    head->size = 0;
    retiredHeads_.push_back(std::move(head));
  }
}

void PackArchive::NamesTakenOut(std::unordered_set<std::string>* names) const {
  if (base_ == nullptr) return;
  for (const HeadPtr& head : base_->removed) names->insert(head->name);
}

std::vector<FileHead> PackArchive::DeferredRemovals() const {
  std::vector<FileHead> keep;
  if (base_ == nullptr || fileSystem_ == nullptr) return keep;
  CFSManager* names = manager();
  if (names == nullptr) return keep;
  // The volumes before this one in the chain commit after it, and a copy of
  // theirs loses to this one's at every load: a copy taken out here stays
  // named until theirs is durable when one of them now holds the name, or
  // takes out an older copy of it (which would otherwise come back). A copy
  // that moved to a later volume goes at once: that volume commits first.
  std::unordered_set<const PackArchive*> earlier;
  for (const std::unique_ptr<PackArchive>& volume : fileSystem_->archives()) {
    if (volume.get() == this) break;
    earlier.insert(volume.get());
  }
  if (earlier.empty()) return keep;
  std::unordered_set<std::string> takenOutEarlier;  // gathered when first needed
  bool gathered = false;
  std::unordered_map<const FileHead*, std::uint32_t> sizeOnDisk;
  for (const HeadPtr& head : base_->removed) {
    if (FindHead(head->name) != nullptr) continue;
    const FileHead* current = names->FindName(head->name);
    if (current == nullptr) {
      if (!gathered) {
        for (const PackArchive* volume : earlier) volume->NamesTakenOut(&takenOutEarlier);
        gathered = true;
      }
      if (takenOutEarlier.count(head->name) == 0) continue;
    } else if (earlier.count(current->owner) == 0) {
      continue;
    }
    // A rewrite through a handle emptied the head in memory; an empty record
    // would be dropped at the next load, and the file with it, should the
    // volume that now holds the name not commit.
    if (sizeOnDisk.empty()) {
      for (const auto& entry : base_->heads) sizeOnDisk.emplace(entry.first, entry.second);
    }
    keep.push_back(*head);
    const auto found = sizeOnDisk.find(head.get());
    if (found != sizeOnDisk.end()) keep.back().size = found->second;
  }
  return keep;
}

bool PackArchive::NeedsWrite(std::size_t deferred) const {
  if (base_ == nullptr) return false;
  return !base_->added.empty() || base_->removed.size() > deferred || base_->truncated ||
         next_ != base_->next;
}

platform::Status PackArchive::RevertHeader() {
  if (base_ == nullptr || !base_->headerWritten) return platform::Status::Ok();
  return WriteHeader(base_->tableOffset, base_->tableSize, base_->headCount);
}

void PackArchive::FinishBatch() {
  if (base_ == nullptr) return;
  std::unique_ptr<BatchBase> base = std::move(base_);
  bool rebuild = false;
  if (tableOffset_ != base->tableOffset || tableSize_ != base->tableSize) {
    base->release.emplace_back(base->tableOffset, base->tableSize);
  }
  for (const auto& region : base->release) rebuild |= !ReleaseRegion(region.first, region.second);
  for (HeadPtr& head : base->removed) {
    if (!ReleaseRegion(head->start, head->size)) rebuild = true;
    head->size = 0;  // already given back
    DisposeHead(std::move(head));
  }
  if (rebuild) RebuildLeakList();
}

void PackArchive::AbandonBatch() {
  if (base_ == nullptr) return;
  std::unique_ptr<BatchBase> base = std::move(base_);
  std::unordered_map<FileHead*, HeadPtr> owned;
  owned.reserve(heads_.size() + base->removed.size());
  for (HeadPtr& head : heads_) owned.emplace(head.get(), std::move(head));
  for (HeadPtr& head : base->removed) owned.emplace(head.get(), std::move(head));
  heads_.clear();
  nameMap_.clear();
  namesBuilt_ = true;  // rebuilt right here, in the order on disk
  for (const auto& entry : base->heads) {
    auto it = owned.find(entry.first);
    if (it == owned.end()) continue;
    it->second->size = entry.second;
    nameMap_.PutIfAbsent(it->second.get());
    heads_.push_back(std::move(it->second));
    owned.erase(it);
  }
  // What remains was stored in the batch: no directory will name it.
  for (auto& entry : owned) {
    ForgetName(entry.first);
    entry.second->size = 0;
    DisposeHead(std::move(entry.second));
  }
  records_.reset();
  tableOffset_ = base->tableOffset;
  tableSize_ = base->tableSize;
  headCount_ = base->headCount;
  next_ = base->next;
  if (base->hadTrailer) {
    if (trailer_ == nullptr) trailer_ = std::make_unique<PackTrailer>();
    *trailer_ = base->trailer;
  } else {
    trailer_.reset();
  }
  RebuildLeakList();
}

platform::Status PackArchive::CommitBatch() {
  if (base_ == nullptr) return platform::Status::Ok();
  PreparedDirectory prepared;
  platform::Status status = PrepareDirectory({}, &prepared);
  if (status.ok()) status = InstallDirectory(prepared);
  if (status.ok()) {
    FinishBatch();
    return status;
  }
  RevertHeader();
  AbandonBatch();
  if (CFSManager* names = manager()) {
    for (const HeadPtr& head : heads_) names->AddName(head.get());
  }
  return status;
}

}  // namespace pkfs

// Removing files from a volume, and the two text commands of a volume set.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "scope_timer.h"

namespace pkfs {

std::vector<PackArchive::DetachedHead> PackArchive::DetachHeads(const std::string& name) {
  std::vector<DetachedHead> detached;
  if (nameMap_.erase(name) == 0) return detached;
  // A volume written elsewhere may repeat a name; every record of it goes.
  std::vector<std::unique_ptr<FileHead>> kept;
  kept.reserve(heads_.size());
  for (std::size_t i = 0; i < heads_.size(); ++i) {
    if (heads_[i]->name == name) {
      detached.emplace_back(i, std::move(heads_[i]));
    } else {
      kept.push_back(std::move(heads_[i]));
    }
  }
  heads_ = std::move(kept);
  recordsValid_ = false;
  return detached;
}

void PackArchive::ReattachHeads(std::vector<DetachedHead> detached) {
  if (!detached.empty()) recordsValid_ = false;
  // In ascending order of their old places, each insert restores one.
  for (DetachedHead& entry : detached) {
    const std::size_t at = std::min(entry.first, heads_.size());
    nameMap_.emplace(entry.second->name, entry.second.get());
    heads_.insert(heads_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry.second));
  }
}

void PackArchive::DisposeHeads(std::vector<DetachedHead> detached) {
  CFSManager* names = manager();
  for (DetachedHead& entry : detached) {
    std::unique_ptr<FileHead> head = std::move(entry.second);
    ForgetName(head.get());
    if (!ReleaseRegion(head->start, head->size)) RebuildLeakList();
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
}

PackArchive::RemoveOutcome PackArchive::RemoveStoredFile(const std::string& name) {
  std::vector<DetachedHead> detached = DetachHeads(name);
  if (detached.empty()) return RemoveOutcome::kAbsent;
  // The data stay claimed until the directory without them is on disk, so
  // the new table cannot land on them.
  if (!UpdateFileHeadData()) {
    ReattachHeads(std::move(detached));
    return RemoveOutcome::kFailed;
  }
  DisposeHeads(std::move(detached));
  return RemoveOutcome::kRemoved;
}

bool OnAddFile(PackArchive* volume, const char* path) {
  ScopeTimer timer("OnAddFile");
  if (volume == nullptr || path == nullptr) return false;
  std::vector<unsigned char> data;
  {
    std::unique_ptr<platform::RandomAccessFile> file =
        platform::RandomAccessFile::Open(path, platform::RandomAccessFile::Mode::kReadWrite);
    if (file == nullptr) return false;
    const std::uint64_t size = file->Size();
    if (size > UINT32_MAX) return false;
    data.resize(static_cast<std::size_t>(size));
    if (file->ReadAt(0, data.data(), data.size()) != static_cast<long long>(data.size())) {
      return false;
    }
  }
  volume->AddFileFromBuffer(path, data.data(), static_cast<std::uint32_t>(data.size()),
                            /*delegated=*/false);
  return false;
}

bool OnRemoveFile(PackArchive* volume, const char* name) {
  ScopeTimer timer("OnRemoveFile");
  if (volume == nullptr || name == nullptr) return false;
  const std::string key = name;
  const bool removed = volume->RemoveStoredFile(key) == PackArchive::RemoveOutcome::kRemoved;
  // Every later volume of the chain gives up its copy too.
  const std::size_t bound =
      volume->fileSystem() != nullptr ? volume->fileSystem()->archives().size() : 0;
  std::size_t visited = 0;
  for (PackArchive* later = volume->next(); later != nullptr && visited < bound;
       later = later->next(), ++visited) {
    later->RemoveStoredFile(key);
  }
  return removed;
}

bool Publish(PackArchive* volume, const std::string& command, const char* argument) {
  ScopeTimer timer("Publish");
  if (volume == nullptr) return false;
  // Same bytes and same length: a prefix or a longer text is no command.
  if (command == "CPKFSFAddFile") {
    OnAddFile(volume, argument);
  } else if (command == "CPKFSFRemoveFile") {
    OnRemoveFile(volume, argument);
  }
  return false;
}

}  // namespace pkfs

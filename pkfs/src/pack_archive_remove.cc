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
  if (Names().Remove(name) == nullptr) return detached;
  // A volume written elsewhere may repeat a name; every record of it goes.
  std::vector<HeadPtr> kept;
  kept.reserve(heads_.size());
  for (std::size_t i = 0; i < heads_.size(); ++i) {
    if (heads_[i]->name == name) {
      detached.emplace_back(i, std::move(heads_[i]));
    } else {
      kept.push_back(std::move(heads_[i]));
    }
  }
  heads_ = std::move(kept);
  records_.reset();
  return detached;
}

PackArchive::RemoveOutcome PackArchive::RemoveStoredFile(const std::string& name) {
  if (fileSystem_ != nullptr && FindHead(name) != nullptr && fileSystem_->RefuseWrite()) {
    return RemoveOutcome::kFailed;
  }
  // The data stay claimed until the commit no longer names them, so nothing
  // stored in the meantime can land on them.
  return TakeOut(name) ? RemoveOutcome::kRemoved : RemoveOutcome::kAbsent;
}

bool OnAddFile(PackArchive* volume, const char* path) {
  ScopeTimer timer("OnAddFile");
  if (volume == nullptr || path == nullptr) return false;
  std::vector<unsigned char> data;
  {
    std::unique_ptr<platform::RandomAccessFile> file;
    if (!volume->fileSystem()->env()
             ->OpenFile(path, platform::RandomAccessFile::Mode::kReadWrite, &file)
             .ok()) {
      return false;
    }
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
  BatchScope scope(volume->fileSystem());
  const std::string key = name;
  CPKFSF* fileSystem = volume->fileSystem();
  if (fileSystem != nullptr) {
    fileSystem->NoteFailure(platform::Status::Ok());
    if (!fileSystem->HoldsName(key)) fileSystem->NoteMissing(key);
  }
  const bool removed = volume->RemoveStoredFile(key) == PackArchive::RemoveOutcome::kRemoved;
  // Every later volume of the chain gives up its copy too.
  const std::size_t bound =
      volume->fileSystem() != nullptr ? volume->fileSystem()->archives().size() : 0;
  std::size_t visited = 0;
  for (PackArchive* later = volume->next(); later != nullptr && visited < bound;
       later = later->next(), ++visited) {
    later->RemoveStoredFile(key);
  }
  return scope.Finish(removed);
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

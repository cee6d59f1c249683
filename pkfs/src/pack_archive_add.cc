// Storing a file in a volume chain. New data go at once to a place that is
// free in memory and on disk; the directory that names them (and no longer
// names a replaced copy) is written by the commit of the batch, so that a
// stop at any write leaves the set as it was before or as it is after.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

// What an empty volume takes before any file: the header and a table that
// holds only a trailer without a next-volume name.
constexpr std::uint32_t kEmptyVolumeBytes = kPackHeaderBytes + kPackTrailerFixedBytes;

// True when an empty volume can take size bytes under limit; a larger file
// would make every new volume refuse it in turn.
bool FitsEmptyVolume(std::uint32_t size, std::uint32_t limit) {
  return limit > kEmptyVolumeBytes && limit - kEmptyVolumeBytes > size;
}

}  // namespace

bool PackArchive::AddFileFromBuffer(const std::string& name, unsigned char* data,
                                    std::uint32_t size, bool delegated) {
  ScopeTimer timer("AddFileFromBuffer");
  if (fileSystem_ == nullptr || (data == nullptr && size > 0)) return false;
  if (!FitsEmptyVolume(size, fileSystem_->sizeLimit())) {
    fileSystem_->NoteFailure(platform::Status::Error(platform::Status::Code::kInvalid, name,
                                                     "too large for a pack volume"));
    return false;
  }

  // Outside a batch the add is a batch of its own.
  BatchScope scope(fileSystem_);
  // Copies elsewhere in the set still count as used here; they are removed
  // only once the new copy is in force.
  std::uint32_t start = 0;
  bool stored;
  if (FindLeakData(size, &start)) {
    stored = StoreHere(name, data, size, start, &timer);
  } else {
    if (next_ == nullptr) fileSystem_->CreateVolume(std::string());
    if (next_ == nullptr) return scope.Finish(false);
    stored = next_->AddFileFromBuffer(name, data, size, /*delegated=*/true);
  }
  if (stored && !delegated) {
    CFSManager* names = manager();
    stored = fileSystem_->RemoveCopies(name, names != nullptr ? names->FindName(name) : nullptr);
  }
  return scope.Finish(stored);
}

bool PackArchive::StoreHere(const std::string& name, unsigned char* data, std::uint32_t size,
                            std::uint32_t start, ScopeTimer* timer) {
  auto head = std::make_unique<FileHead>(this);
  head->name = name;
  head->start = start;
  head->size = size;
  head->flags = kFlagStored;

  CFSManager* filters = manager();
  std::uint16_t id = 0;
  if (fileSystem_->MatchResizingRule(name, &id)) {
    head->flags |= kFlagResizing;
    head->filterWord = id;
    CFSFilter* filter = filters != nullptr ? filters->FindResizingFilter(id) : nullptr;
    if (filter != nullptr && size > 0) filter->Encode(data, size, nullptr);
  }
  if (fileSystem_->MatchInPlaceRule(name, &id)) {
    // Flagged even without the filter: readers look the id up themselves.
    head->flags |= kFlagInPlace;
    head->filterWord = id;
    CFSFilter* filter = filters != nullptr ? filters->FindInPlaceFilter(id) : nullptr;
    if (filter != nullptr && size > 0) filter->Encode(data, size, nullptr);
  }

  timer->Report(name_ + ":" + name +
                    " Leak StartPos = " + std::to_string(static_cast<std::int32_t>(start)) + "\n",
                filters);

  // A failed data write leaves no trace: no head, no claimed region.
  const platform::Status written = WriteBlock(data, start, size);
  if (!written.ok()) {
    fileSystem_->NoteFailure(written);
    return false;
  }

  // A copy in this volume is replaced in the same commit.
  TakeOut(name);
  Touch();
  FileHead* stored = head.get();
  heads_.push_back(std::move(head));
  if (recordsValid_) AppendRecord(*stored);
  Names().Put(stored);
  base_->added.insert(stored);
  ClaimRegion(start, size);
  if (filters != nullptr) filters->AddName(stored);
  return true;
}

}  // namespace pkfs

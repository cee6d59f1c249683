// Storing a file in a volume chain. New data go at once to a place that is
// free in memory and on disk; the directory that names them (and no longer
// names a replaced copy) is written by the commit of the batch, so that a
// stop at any write leaves the set as it was before or as it is after.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/zero_bytes.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

// What an empty volume takes before any file: the header and a table that
// holds only a trailer without a next-volume name.
constexpr std::uint32_t kEmptyVolumeBytes = kPackHeaderBytes + kPackTrailerFixedBytes;

// Entries stored from a source are written in pieces of this size.
constexpr std::uint32_t kPieceBytes = 1u << 20;

// Scrambles a piece through filter. The whole entry in one piece goes
// through the filter's own Encode; an entry in several pieces takes the
// library's scrambling piece by piece, each piece's last byte taking its even
// bits from the next piece's first (the entry's first, for the last piece).
void EncodePiece(CFSFilter* filter, unsigned char* piece, std::uint32_t length, bool whole,
                 unsigned char carry) {
  if (filter == nullptr || length == 0) return;
  if (whole) {
    filter->Encode(piece, length, nullptr);
  } else {
    EncodeWithCarry(piece, length, carry);
  }
}

}  // namespace

std::uint64_t LargestFileSizeUnder(std::uint32_t sizeLimit) {
  // An empty volume must take it with a byte to spare.
  return sizeLimit > kEmptyVolumeBytes ? sizeLimit - kEmptyVolumeBytes - 1 : 0;
}

platform::Status TooLargeForVolume(const std::string& name, std::uint64_t size,
                                   std::uint32_t sizeLimit) {
  return platform::Status::Error(
      platform::Status::Code::kInvalid, name,
      "too large for a pack volume (" + std::to_string(size) + " bytes; a volume holds at most " +
          std::to_string(LargestFileSizeUnder(sizeLimit)) + ")");
}

bool PackArchive::AddFileFromBuffer(const std::string& name, unsigned char* data,
                                    std::uint32_t size, bool delegated) {
  ScopeTimer timer("AddFileFromBuffer");
  if (fileSystem_ == nullptr || (data == nullptr && size > 0)) return false;
  const DataWriter write = [data, size](PackArchive* volume, std::uint32_t start,
                                        CFSFilter* resizing, CFSFilter* inPlace) {
    if (resizing != nullptr && size > 0) resizing->Encode(data, size, nullptr);
    if (inPlace != nullptr && size > 0) inPlace->Encode(data, size, nullptr);
    return volume->WriteBlock(data, start, size);
  };
  return AddFileWith(name, size, delegated, write, &timer);
}

bool PackArchive::AddFileFromSource(const std::string& name, std::uint32_t size,
                                    const PieceSource& source, bool delegated) {
  ScopeTimer timer("AddFileFromSource");
  if (fileSystem_ == nullptr) return false;
  const DataWriter write = [&name, size, &source](PackArchive* volume, std::uint32_t start,
                                                  CFSFilter* resizing, CFSFilter* inPlace) {
    return volume->WritePieces(name, start, size, source, resizing, inPlace);
  };
  return AddFileWith(name, size, delegated, write, &timer);
}

platform::Status PackArchive::WritePieces(const std::string& name, std::uint32_t start,
                                          std::uint32_t size, const PieceSource& source,
                                          CFSFilter* resizing, CFSFilter* inPlace) {
  const bool whole = size <= kPieceBytes;
  if (resizing != nullptr && inPlace != nullptr && !whole) {
    return platform::Status::Error(platform::Status::Code::kInvalid, name,
                                   "cannot be stored through two filters in pieces");
  }
  CFSFilter* filter = resizing != nullptr ? resizing : inPlace;
  // A filtered piece needs the byte after it, read with the piece and carried
  // over to begin the next one.
  const std::uint32_t lookahead = filter != nullptr && !whole ? 1 : 0;
  // A region past the file's end reads as zeros until written: pieces of
  // zeros there are left as holes (all but the last, which gives the file
  // its length), so that long runs of zeros take no disk.
  const bool pastEnd = stream_ != nullptr && start >= stream_->Size();
  std::vector<unsigned char> piece(std::min(size, kPieceBytes) + lookahead);
  unsigned char first = 0;
  bool carried = false;
  for (std::uint32_t done = 0; done < size;) {
    const std::uint32_t length = std::min(size - done, kPieceBytes);
    const std::uint32_t ahead = done + length < size ? lookahead : 0;
    const std::uint32_t toRead = length + ahead - (carried ? 1 : 0);
    if (!source(piece.data() + (carried ? 1 : 0), toRead)) {
      return platform::Status::Error(platform::Status::Code::kIoError, name,
                                     "its bytes could not be read");
    }
    if (done == 0) first = piece[0];
    const unsigned char carry = ahead != 0 ? piece[length] : first;
    if (resizing != nullptr && inPlace != nullptr) {
      // Only a whole entry in one piece gets here.
      resizing->Encode(piece.data(), length, nullptr);
      inPlace->Encode(piece.data(), length, nullptr);
    } else {
      EncodePiece(filter, piece.data(), length, whole, carry);
    }
    const bool last = done + length == size;
    if (!pastEnd || last || !platform::AllZeroBytes(piece.data(), length)) {
      const platform::Status written = WriteBlock(piece.data(), start + done, length);
      if (!written.ok()) return written;
    }
    done += length;
    carried = ahead != 0;
    if (carried) piece[0] = piece[length];
  }
  return platform::Status::Ok();
}

bool PackArchive::AddFileWith(const std::string& name, std::uint32_t size, bool delegated,
                              const DataWriter& write, ScopeTimer* timer) {
  if (fileSystem_->RefuseWrite()) return false;
  if (size > LargestFileSizeUnder(fileSystem_->sizeLimit())) {
    // A larger file would make every new volume refuse it in turn.
    fileSystem_->NoteFailure(TooLargeForVolume(name, size, fileSystem_->sizeLimit()));
    return false;
  }

  // Outside a batch the add is a batch of its own.
  BatchScope scope(fileSystem_);
  // Copies elsewhere in the set still count as used here; they are removed
  // only once the new copy is in force.
  std::uint32_t start = 0;
  bool stored;
  if (FindLeakData(size, &start)) {
    stored = StoreHere(name, size, start, write, timer);
  } else {
    if (next_ == nullptr) fileSystem_->CreateVolume(std::string());
    if (next_ == nullptr) return scope.Finish(false);
    ScopeTimer nextTimer(timer->name());  // the next volume times its own store
    stored = next_->AddFileWith(name, size, /*delegated=*/true, write, &nextTimer);
  }
  if (stored && !delegated) {
    CFSManager* names = manager();
    stored = fileSystem_->RemoveCopies(name, names != nullptr ? names->FindName(name) : nullptr);
  }
  return scope.Finish(stored);
}

bool PackArchive::StoreHere(const std::string& name, std::uint32_t size, std::uint32_t start,
                            const DataWriter& write, ScopeTimer* timer) {
  auto head = std::make_unique<FileHead>(this);
  head->name = name;
  head->start = start;
  head->size = size;
  head->flags = kFlagStored;

  CFSManager* filters = manager();
  std::uint16_t id = 0;
  CFSFilter* resizing = nullptr;
  CFSFilter* inPlace = nullptr;
  if (fileSystem_->MatchResizingRule(name, &id)) {
    head->flags |= kFlagResizing;
    head->filterWord = id;
    resizing = filters != nullptr ? filters->FindResizingFilter(id) : nullptr;
  }
  if (fileSystem_->MatchInPlaceRule(name, &id)) {
    // Flagged even without the filter: readers look the id up themselves.
    head->flags |= kFlagInPlace;
    head->filterWord = id;
    inPlace = filters != nullptr ? filters->FindInPlaceFilter(id) : nullptr;
  }

  timer->Report(name_ + ":" + name +
                    " Leak StartPos = " + std::to_string(static_cast<std::int32_t>(start)) + "\n",
                filters);

  // A failed data write leaves no trace: no head, no claimed region.
  const platform::Status written = write(this, start, resizing, inPlace);
  if (!written.ok()) {
    fileSystem_->NoteFailure(written);
    return false;
  }
  // A copy in this volume is replaced in the same commit.
  TakeOut(name);
  Touch();
  FileHead* stored = head.get();
  heads_.push_back(std::move(head));
  if (records_ != nullptr) records_->Add(*stored);
  Names().Put(stored);
  base_->added.insert(stored);
  ClaimRegion(start, size);
  if (filters != nullptr) filters->AddName(stored);
  return true;
}

}  // namespace pkfs

// Positioned reads and writes on a volume, and the rewrite of its directory
// (table first, header last).
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

// A short write is tried again this many times in all before it counts as
// failed; a device that keeps refusing must not hold the caller forever.
constexpr int kWriteAttempts = 3;

// The trailer fields a directory write changes, to put back when it fails.
struct TrailerState {
  bool present = false;
  std::uint32_t bodySize = 0;
  std::uint32_t checksum = 0;
  std::uint32_t nameLength = 0;
  std::string nextName;
};

}  // namespace

bool PackArchive::ReadBuffer(void* data, std::uint32_t position, std::uint32_t length) {
  ScopeTimer timer("ReadBuffer");
  if (length == 0) return true;
  long long got;
  {
    std::lock_guard<std::mutex> guard(lock_);
    got = stream_->ReadAt(position, data, length);
  }
  if (got == static_cast<long long>(length)) return true;
  // Whatever did not arrive reads as zeros rather than as stale memory.
  const std::size_t have = got > 0 ? static_cast<std::size_t>(got) : 0;
  std::memset(static_cast<unsigned char*>(data) + have, 0, length - have);
  return false;
}

bool PackArchive::WriteBuffer(const void* data, std::uint32_t position, std::uint32_t length) {
  ScopeTimer timer("WriteBuffer");
  if (length == 0) return true;
  std::lock_guard<std::mutex> guard(lock_);
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    // A torn attempt is written again whole, from its first byte.
    if (stream_->WriteAt(position, data, length) == length) return true;
  }
  return false;
}

bool PackArchive::UpdateFileHeadData() {
  ScopeTimer timer("UpdateFileHeadData");
  TrailerState saved;
  if (trailer_ != nullptr) {
    saved.present = true;
    saved.bodySize = trailer_->bodySize;
    saved.checksum = trailer_->checksum;
    saved.nameLength = trailer_->nameLength;
    saved.nextName = trailer_->nextName;
  } else {
    trailer_ = std::make_unique<PackTrailer>(this);
  }
  auto restoreTrailer = [&] {
    if (!saved.present) {
      trailer_.reset();
      return;
    }
    trailer_->bodySize = saved.bodySize;
    trailer_->checksum = saved.checksum;
    trailer_->nameLength = saved.nameLength;
    trailer_->nextName = saved.nextName;
  };

  trailer_->Refresh();
  if (!recordsValid_) RebuildRecords();
  const std::size_t recordBytes = records_.size();
  const std::size_t total = recordBytes + trailer_->RecordSize();
  if (total > std::numeric_limits<std::uint32_t>::max() ||
      heads_.size() > std::numeric_limits<std::uint32_t>::max()) {
    restoreTrailer();
    return false;
  }
  const auto tableSize = static_cast<std::uint32_t>(total);

  std::vector<unsigned char> table;
  table.reserve(total);
  table.assign(records_.begin(), records_.end());
  table.resize(total);
  trailer_->checksum = recordSum_;
  trailer_->Serialize(table.data() + recordBytes);
  EncodeDirectoryBlock(manager(), table.data(), table.size());

  // The old table still counts as used here, so the new one never lands on
  // the directory that the header on disk names. An empty directory goes
  // back to the front of the volume when that place is free.
  const auto front = static_cast<std::uint32_t>(kPackHeaderBytes);
  std::uint32_t tableOffset = front;
  if (!heads_.empty() || !leakList_.IsFree(front, tableSize)) {
    // A table may grow a volume past its size limit: the result is not used.
    FindLeakData(tableSize, &tableOffset);
  }
  if (tableSize > std::numeric_limits<std::uint32_t>::max() - tableOffset ||
      !WriteBuffer(table.data(), tableOffset, tableSize)) {
    restoreTrailer();
    return false;
  }

  PackHeader header;
  std::memcpy(header.magic, magic_, sizeof magic_);
  header.tableOffset = tableOffset;
  header.tableSize = tableSize;
  header.headCount = static_cast<std::uint32_t>(heads_.size());
  unsigned char bytes[kPackHeaderBytes];
  header.Serialize(bytes);
  EncodeDirectoryBlock(manager(), bytes, sizeof bytes);
  if (!WriteBuffer(bytes, 0, sizeof bytes)) {
    restoreTrailer();
    return false;
  }

  // The new directory is in force: only now is the old one's place free.
  const std::uint32_t oldOffset = tableOffset_;
  const std::uint32_t oldSize = tableSize_;
  tableOffset_ = tableOffset;
  tableSize_ = tableSize;
  headCount_ = header.headCount;
  if (leakListStale_) {
    RebuildLeakList();
  } else {
    ClaimRegion(tableOffset, tableSize);
    if (!ReleaseRegion(oldOffset, oldSize)) RebuildLeakList();
  }
  return true;
}

void PackArchive::AppendRecord(const FileHead& head) {
  const std::size_t at = records_.size();
  records_.resize(at + head.RecordSize());
  head.Serialize(records_.data() + at);
  recordSum_ += ByteSum(records_.data() + at, records_.size() - at);
}

void PackArchive::RebuildRecords() {
  std::size_t bytes = 0;
  for (const std::unique_ptr<FileHead>& head : heads_) bytes += head->RecordSize();
  records_.clear();
  records_.reserve(bytes);
  recordSum_ = 0;
  for (const std::unique_ptr<FileHead>& head : heads_) AppendRecord(*head);
  recordsValid_ = true;
}

bool PackArchive::LinkNextVolume(PackArchive* next) {
  PackArchive* previous = next_;
  next_ = next;
  if (UpdateFileHeadData()) return true;
  next_ = previous;
  return false;
}

}  // namespace pkfs

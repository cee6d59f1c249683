// Positioned reads and writes on a volume, and the writes of its directory
// at a commit (data and table synced first, header last).
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "pkfs/volume_writer.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

// A short write is tried again this many times in all before it counts as
// failed; a device that keeps refusing must not hold the caller forever.
constexpr int kWriteAttempts = 3;

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
  return WriteBlock(data, position, length).ok();
}

platform::Status PackArchive::WriteBlock(const void* data, std::uint32_t position,
                                         std::uint32_t length) {
  ScopeTimer timer("WriteBuffer");
  if (length == 0) return platform::Status::Ok();
  std::lock_guard<std::mutex> guard(lock_);
  platform::Status status;
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    // A torn attempt is written again whole, from its first byte.
    status = stream_->Write(position, data, length);
    if (status.ok()) break;
  }
  // Every few megabytes the bytes written start for the disk, so that the
  // commit's sync of a large batch does not wait for all of them at once.
  if (status.ok() && (unsubmittedBytes_ += length) >= kWritebackBytes) {
    stream_->StartWriteback();
    unsubmittedBytes_ = 0;
  }
  return status;
}

bool PackArchive::UpdateFileHeadData() {
  ScopeTimer timer("UpdateFileHeadData");
  Touch();
  return CommitBatch().ok();
}

std::vector<unsigned char> PackArchive::BuildTable(const std::vector<FileHead>& keep,
                                                   PackTrailer* trailer) {
  if (trailer_ != nullptr) *trailer = *trailer_;
  // The next volume's name, or (without one loaded) the name read from disk.
  trailer->Refresh(next_ != nullptr ? &next_->name() : nullptr);
  const DirectoryWriter& records = Records();
  std::size_t recordBytes = records.recordBytes();
  for (const FileHead& head : keep) recordBytes += head.RecordSize();
  DirectoryWriter writer;
  writer.Reserve(recordBytes);
  writer.AddAll(records);
  for (const FileHead& head : keep) writer.Add(head);
  trailer->checksum = writer.checksum();
  return writer.Finish(trailer->nextName, manager());
}

platform::Status PackArchive::WriteHeader(std::uint32_t tableOffset, std::uint32_t tableSize,
                                          std::uint32_t headCount) {
  unsigned char bytes[kVolumeHeaderBytes];
  EncodeVolumeHeader(manager(), tableOffset, tableSize, headCount, bytes);
  platform::Status status = WriteBlock(bytes, 0, sizeof bytes);
  if (status.ok()) status = stream_->Sync();
  return status;
}

platform::Status PackArchive::PrepareDirectory(const std::vector<FileHead>& keep,
                                               PreparedDirectory* prepared) {
  ScopeTimer timer("UpdateFileHeadData");
  Touch();
  const std::size_t headCount = heads_.size() + keep.size();
  std::vector<unsigned char> table = BuildTable(keep, &prepared->trailer);
  if (table.size() > std::numeric_limits<std::uint32_t>::max() ||
      headCount > std::numeric_limits<std::uint32_t>::max()) {
    return platform::Status::Error(platform::Status::Code::kInvalid, name_,
                                   "directory too large for the format");
  }
  const auto tableSize = static_cast<std::uint32_t>(table.size());

  // The old table still counts as used here, so the new one never lands on
  // the directory that the header on disk names. An empty directory goes
  // back to the front of the volume when that place is free.
  const auto front = static_cast<std::uint32_t>(kPackHeaderBytes);
  std::uint32_t tableOffset = front;
  if (headCount > 0 || !leakList_.IsFree(front, tableSize)) {
    // A table may grow a volume past its size limit: the result is not used.
    FindLeakData(tableSize, &tableOffset);
  }
  if (tableSize > std::numeric_limits<std::uint32_t>::max() - tableOffset) {
    return platform::Status::Error(platform::Status::Code::kInvalid, name_,
                                   "directory would end past 4 GiB");
  }
  // Data and table durable before any header names them.
  platform::Status status = WriteBlock(table.data(), tableOffset, tableSize);
  if (status.ok()) status = stream_->Sync();
  if (!status.ok()) return status;
  // Claimed at once: nothing else may land on it while it waits for its
  // header (a failed commit rebuilds the free space from the old directory).
  ClaimRegion(tableOffset, tableSize);
  prepared->tableOffset = tableOffset;
  prepared->tableSize = tableSize;
  prepared->headCount = static_cast<std::uint32_t>(headCount);
  return platform::Status::Ok();
}

platform::Status PackArchive::InstallDirectory(const PreparedDirectory& prepared) {
  Touch();
  base_->headerWritten = true;
  const platform::Status status =
      WriteHeader(prepared.tableOffset, prepared.tableSize, prepared.headCount);
  if (!status.ok()) return status;

  // The new directory is in force. The table it replaced is given back when
  // the whole commit is durable (a later volume may still fail it).
  if (tableOffset_ != base_->tableOffset || tableSize_ != base_->tableSize) {
    base_->release.emplace_back(tableOffset_, tableSize_);
  }
  tableOffset_ = prepared.tableOffset;
  tableSize_ = prepared.tableSize;
  headCount_ = prepared.headCount;
  if (trailer_ == nullptr) trailer_ = std::make_unique<PackTrailer>();
  *trailer_ = prepared.trailer;
  return platform::Status::Ok();
}

const DirectoryWriter& PackArchive::Records() {
  if (records_ == nullptr) {
    std::size_t bytes = 0;
    for (const HeadPtr& head : heads_) bytes += head->RecordSize();
    records_ = std::make_unique<DirectoryWriter>();
    records_->Reserve(bytes);
    for (const HeadPtr& head : heads_) records_->Add(*head);
  }
  return *records_;
}

bool PackArchive::LinkNextVolume(PackArchive* next) {
  BatchScope scope(fileSystem_);
  Touch();
  next_ = next;
  return scope.Finish(true);
}

}  // namespace pkfs

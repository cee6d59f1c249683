// New volumes under a scratch name, renamed into place once durable.
#include "volume_creation.h"

#include <cerrno>
#include <memory>

#include "directory_filter.h"
#include "pack_format.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"

namespace pkfs {

namespace {

// An empty directory: a trailer that names no next volume, over no records
// (byte sum 0), at the front of the volume, and the header that names it.
void EmptyVolumeBytes(const CFSManager* filters, unsigned char out[2 * kPackHeaderBytes]) {
  PackTrailer trailer;
  trailer.checksum = 0;
  unsigned char* table = out + kPackHeaderBytes;
  const std::size_t tableSize = trailer.Serialize(table);
  EncodeDirectoryBlock(filters, table, tableSize);
  PackHeader header;
  header.tableOffset = static_cast<std::uint32_t>(kPackHeaderBytes);
  header.tableSize = static_cast<std::uint32_t>(tableSize);
  header.headCount = 0;
  header.Serialize(out);
  EncodeDirectoryBlock(filters, out, kPackHeaderBytes);
}

platform::Status FromErrno(const std::string& path) {
  return platform::Status::FromErrno(errno != 0 ? errno : EIO, path);
}

}  // namespace

std::string VolumeScratchPath(const std::string& path) { return path + ".pkfs-new"; }

platform::Status CreateEmptyVolume(const std::string& path, const CFSManager* filters) {
  static_assert(kPackTrailerFixedBytes == kPackHeaderBytes, "the empty table is 16 bytes");
  const std::string scratch = VolumeScratchPath(path);
  const std::string directory = platform::DirectoryOf(path);
  RemoveLeftoverScratch(path);
  errno = 0;
  std::unique_ptr<platform::RandomAccessFile> file =
      platform::RandomAccessFile::Open(scratch, platform::RandomAccessFile::Mode::kCreateReadWrite);
  if (file == nullptr) return FromErrno(scratch);
  unsigned char bytes[2 * kPackHeaderBytes];
  EmptyVolumeBytes(filters, bytes);
  platform::Status status = file->Write(0, bytes, sizeof bytes);
  if (status.ok()) status = file->Sync();
  file.reset();  // closed before the rename: Windows renames no open file
  if (status.ok() && platform::PathExists(path)) {
    status = platform::Status::Error(platform::Status::Code::kBusy, path,
                                     "was created by another process meanwhile");
  }
  if (status.ok()) {
    errno = 0;
    if (!platform::RenameFile(scratch, path)) status = FromErrno(path);
  }
  if (!status.ok()) {
    platform::DeleteFile(scratch);
    return status;
  }
  // The name is durable before anything can link or fill the volume.
  status = platform::SyncDirectory(directory);
  if (!status.ok()) {
    platform::DeleteFile(path);
    platform::SyncDirectory(directory);
  }
  return status;
}

void RemoveLeftoverScratch(const std::string& path) {
  const std::string scratch = VolumeScratchPath(path);
  if (platform::PathExists(scratch)) platform::DeleteFile(scratch);
}

}  // namespace pkfs

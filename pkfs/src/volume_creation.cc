// New volumes under a scratch name, renamed into place once durable.
#include "volume_creation.h"

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/volume_writer.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"

namespace pkfs {

namespace {

// An empty directory: a trailer that names no next volume, over no records
// (byte sum 0), at the front of the volume, and the header that names it.
std::vector<unsigned char> EmptyVolumeBytes(const CFSManager* filters) {
  const std::vector<unsigned char> table = DirectoryWriter().Finish(std::string(), filters);
  std::vector<unsigned char> bytes(kVolumeHeaderBytes);
  EncodeVolumeHeader(filters, static_cast<std::uint32_t>(kVolumeHeaderBytes),
                     static_cast<std::uint32_t>(table.size()), 0, bytes.data());
  bytes.insert(bytes.end(), table.begin(), table.end());
  return bytes;
}

}  // namespace

std::string VolumeScratchPath(const std::string& path) { return path + ".pkfs-new"; }

platform::Status CreateEmptyVolume(platform::Env* env, const std::string& path,
                                   const CFSManager* filters) {
  const std::string scratch = VolumeScratchPath(path);
  const std::string directory = platform::DirectoryOf(path);
  RemoveLeftoverScratch(env, path);
  std::unique_ptr<platform::RandomAccessFile> file;
  platform::Status status =
      env->OpenFile(scratch, platform::RandomAccessFile::Mode::kCreateReadWrite, &file);
  if (!status.ok()) return status;
  const std::vector<unsigned char> bytes = EmptyVolumeBytes(filters);
  status = file->Write(0, bytes.data(), bytes.size());
  if (status.ok()) status = file->Sync();
  file.reset();  // closed before the rename: Windows renames no open file
  // The rename replaces what it finds: a volume there, or one that cannot
  // be looked at, must stay.
  platform::FileStamp there;
  if (status.ok()) status = env->StampFile(path, &there);
  if (status.ok() && there.exists) {
    status = platform::Status::Error(platform::Status::Code::kBusy, path,
                                     "was created by another process meanwhile");
  }
  if (status.ok()) status = env->RenameFile(scratch, path);
  if (!status.ok()) {
    env->DeleteFile(scratch);
    return status;
  }
  // The name is durable before anything can link or fill the volume.
  status = env->SyncDirectory(directory);
  if (!status.ok()) {
    env->DeleteFile(path);
    env->SyncDirectory(directory);
  }
  return status;
}

void RemoveLeftoverScratch(platform::Env* env, const std::string& path) {
  const std::string scratch = VolumeScratchPath(path);
  if (platform::PathExists(scratch)) env->DeleteFile(scratch);
}

}  // namespace pkfs

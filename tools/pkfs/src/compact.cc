// Compaction of a volume set: plan, write beside, sync, switch, clean up.
#include "pkfstool/compact.h"

#include <cstring>
#include <memory>
#include <utility>

#include "pkfs/pack_volume.h"
#include "pkfs/fs_manager.h"
#include "pkfs/volume_writer.h"
#include "pkfstool/pack_set.h"
#include "pkfstool/progress_bar.h"
#include "pkfstool/set_scan.h"
#include "pkfstool/stored_name.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"

namespace pkfstool {

namespace {

using platform::RandomAccessFile;
using platform::Status;

// Stored bytes are copied through a buffer of this size; small entries are
// gathered in it so that each write moves many of them.
constexpr std::size_t kCopyBytes = 1 << 20;

// One volume of the new set.
struct NewVolume {
  std::string name;       // what the previous volume's trailer names
  std::string path;       // where it is once in force
  std::string writePath;  // where it is written
  std::vector<const pkfs::FileHead*> entries;
  std::vector<std::uint32_t> starts;
  std::uint64_t dataEnd = pkfs::kVolumeHeaderBytes;
  std::unique_ptr<RandomAccessFile> file;
  std::uint64_t size = 0;
};

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string VolumeName(const std::string& pattern, std::size_t number) {
  std::string name = pattern;
  const std::size_t at = name.find("%d");
  if (at != std::string::npos) name.replace(at, 2, std::to_string(number));
  return name;
}

// Entries go into volumes in their order, each volume taking them while
// they end below the limit (an entry that fits no volume gets one alone).
std::vector<NewVolume> Plan(const std::vector<const pkfs::FileHead*>& entries,
                            std::uint32_t limit) {
  std::vector<NewVolume> volumes(1);
  for (const pkfs::FileHead* entry : entries) {
    NewVolume* volume = &volumes.back();
    const bool fits = limit > volume->dataEnd && limit - volume->dataEnd > entry->size;
    if (!fits && !volume->entries.empty()) {
      volumes.emplace_back();
      volume = &volumes.back();
    }
    volume->entries.push_back(entry);
    volume->starts.push_back(static_cast<std::uint32_t>(volume->dataEnd));
    volume->dataEnd += entry->size;
  }
  return volumes;
}

// Names the new volumes: the first keeps the set's name and is written under
// a scratch name; the later ones take "Data%d.pak" names that no file has.
void NameVolumes(const std::string& firstPath, const pkfs::CPKFSF& old,
                 std::vector<NewVolume>& volumes) {
  volumes[0].name = firstPath;
  volumes[0].path = firstPath;
  volumes[0].writePath = CompactScratchPath(firstPath);
  std::size_t number = 1;
  for (std::size_t i = 1; i < volumes.size(); ++i) {
    std::string name;
    std::string path;
    do {
      name = VolumeName(old.volumePattern(), number++);
      path = pkfs::PathBeside(firstPath, name);
    } while (platform::PathExists(path) || old.IsLoaded(path));
    volumes[i].name = name;
    volumes[i].path = path;
    volumes[i].writePath = path;
  }
}

// Writes one new volume: the stored bytes back to back from offset 16, the
// directory after them, then the header; and syncs it.
Status WriteVolume(NewVolume& volume, const std::string& nextName, pkfs::CFSManager& manager,
                   ProgressBar* progress) {
  Status status = manager.env()->OpenFile(volume.writePath,
                                          RandomAccessFile::Mode::kCreateReadWrite, &volume.file);
  if (!status.ok()) return status;
  // Nobody knows the file yet; the lock keeps the new set to this process
  // from the switch until the old volumes are gone.
  volume.file->LockExclusive(/*timeoutMilliseconds=*/0);

  std::vector<unsigned char> staged;
  staged.reserve(kCopyBytes);
  std::uint64_t stagedAt = pkfs::kVolumeHeaderBytes;
  auto flush = [&]() -> Status {
    if (staged.empty()) return Status::Ok();
    Status written = volume.file->Write(stagedAt, staged.data(), staged.size());
    if (!written.ok()) return written;
    stagedAt += staged.size();
    staged.clear();
    return Status::Ok();
  };
  for (const pkfs::FileHead* entry : volume.entries) {
    for (std::uint32_t done = 0; done < entry->size;) {
      if (staged.size() == kCopyBytes) {
        status = flush();
        if (!status.ok()) return status;
      }
      const std::size_t room = kCopyBytes - staged.size();
      const auto length = static_cast<std::uint32_t>(
          room < entry->size - done ? room : static_cast<std::size_t>(entry->size - done));
      const std::size_t at = staged.size();
      staged.resize(at + length);
      if (!pkfs::VolumeOf(*entry)->ReadBuffer(staged.data() + at, entry->start + done, length)) {
        return Status::Error(Status::Code::kIoError, pkfs::VolumeOf(*entry)->path(),
                             "cannot read " + entry->name);
      }
      done += length;
    }
    if (progress != nullptr) progress->Step();
  }
  status = flush();
  if (!status.ok()) return status;

  // The directory: the same records (name, size, flags, filter word) at
  // their new places, and a trailer naming the next new volume.
  pkfs::DirectoryWriter directory;
  for (std::size_t i = 0; i < volume.entries.size(); ++i) {
    pkfs::FileHead record = *volume.entries[i];
    record.start = volume.starts[i];
    directory.Add(record);
  }
  const std::vector<unsigned char> table = directory.Finish(nextName, &manager);
  if (volume.dataEnd + table.size() > 0xFFFFFFFFu) {
    return Status::Error(Status::Code::kInvalid, volume.writePath,
                         "would end past 4 GiB; lower the volume size limit");
  }
  status = volume.file->Write(volume.dataEnd, table.data(), table.size());
  if (!status.ok()) return status;
  unsigned char bytes[pkfs::kVolumeHeaderBytes];
  pkfs::EncodeVolumeHeader(&manager, static_cast<std::uint32_t>(volume.dataEnd),
                           static_cast<std::uint32_t>(table.size()),
                           static_cast<std::uint32_t>(volume.entries.size()), bytes);
  status = volume.file->Write(0, bytes, sizeof bytes);
  if (!status.ok()) return status;
  volume.size = volume.dataEnd + table.size();
  return volume.file->Sync();
}

Status RefuseWhileHeld(const SetScan& scan, platform::Env* env) {
  for (const VolumeScan& volume : scan.volumes) {
    std::unique_ptr<RandomAccessFile> probe;
    const Status opened = env->OpenFile(volume.path, RandomAccessFile::Mode::kReadWrite, &probe);
    if (!opened.ok()) {
      return Status::Error(opened.code(), volume.path,
                           "cannot be opened for writing: " + opened.Reason());
    }
    if (!probe->LockExclusive(/*timeoutMilliseconds=*/0).ok()) {
      return Status::Error(Status::Code::kBusy, volume.path,
                           "another process has the set open; try again when it is done");
    }
  }
  return Status::Ok();
}

// The records of the volumes past the last one that loads, which a salvage
// cannot take along.
void NameUnloadedEntries(const SetScan& scan, std::size_t loaded,
                         std::vector<std::string>* dropped) {
  for (std::size_t i = loaded; i < scan.volumes.size(); ++i) {
    const VolumeScan& volume = scan.volumes[i];
    const std::string why = volume.problems.empty() ? std::string("it does not load")
                                                    : volume.problems.front();
    if (volume.records.empty()) {
      dropped->push_back(volume.path + ": the whole volume: " + why);
      continue;
    }
    for (const pkfs::FileHead& record : volume.records) {
      if (record.size == 0) continue;
      dropped->push_back(volume.path + ": " + PrintableName(record.name) +
                         ": its volume does not load: " + why);
    }
  }
}

}  // namespace

std::string CompactScratchPath(const std::string& firstPath) { return firstPath + ".compact"; }

Status CompactSet(const std::string& firstPath, const CompactOptions& options,
                  CompactResult* result) {
  CompactResult local;
  CompactResult& out = result != nullptr ? *result : local;
  platform::Env* const env = options.env;
  PackSet set(env);
  if (!platform::PathExists(firstPath)) {
    return Status::Error(Status::Code::kNotFound, firstPath, "no such file");
  }
  const SetScan scan = ScanSet(firstPath, set.manager());
  const std::vector<std::string> problems = scan.Problems();
  if (!problems.empty() && !options.salvage) {
    return Status::Error(Status::Code::kCorrupt, firstPath,
                         "the set is damaged, not compacted (" + problems.front() +
                             "); see 'pkfs verify', or rebuild it from what still reads with "
                             "'pkfs compact --salvage'");
  }
  Status status = RefuseWhileHeld(scan, env);
  if (!status.ok()) return status;
  status = set.OpenForWriting(firstPath);
  if (!status.ok()) return status;

  const pkfs::CPKFSF& old = set.fileSystem();
  std::vector<const pkfs::FileHead*> entries;
  for (const auto& volume : old.volumes()) {
    out.bytesBefore += volume->stream()->Size();
    for (const auto& head : volume->heads()) {
      // Shadowed copies and empty records (dropped at every load) go.
      if (head->size == 0 || !set.InForce(*head)) continue;
      if (options.salvage) {
        const Status read = set.ReadEntry(
            *head, [](const unsigned char*, std::size_t) { return Status::Ok(); });
        if (!read.ok()) {
          out.dropped.push_back(volume->path() + ": " + read.ToString());
          continue;
        }
      }
      entries.push_back(head.get());
    }
  }
  if (options.salvage) NameUnloadedEntries(scan, old.volumes().size(), &out.dropped);
  out.volumesBefore = old.volumes().size();
  out.entries = entries.size();

  std::vector<NewVolume> volumes = Plan(entries, options.volumeSizeLimit);
  NameVolumes(firstPath, old, volumes);
  auto discard = [&volumes, env] {
    for (NewVolume& volume : volumes) {
      if (volume.file == nullptr) continue;
      volume.file.reset();
      env->DeleteFile(volume.writePath);
    }
  };
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    const std::string next = i + 1 < volumes.size() ? volumes[i + 1].name : std::string();
    status = WriteVolume(volumes[i], next, set.manager(), options.progress);
    if (!status.ok()) {
      discard();
      return status;
    }
    out.bytesAfter += volumes[i].size;
  }
  out.volumesAfter = volumes.size();

  // Everything new is on disk; its names in the directory are made durable
  // before the rename makes the new set the one in force.
  const std::string directory = DirectoryOf(firstPath);
  status = env->SyncDirectory(directory);
  if (!status.ok()) {
    discard();
    return status;
  }
  auto stop = [&options](const std::string& step) {
    return options.beforeStep && !options.beforeStep(step);
  };
  const std::string rename = "rename " + volumes[0].writePath + " to " + firstPath;
  if (stop(rename)) return Status::Error(Status::Code::kInvalid, firstPath, "stopped: " + rename);
  // The old set and the new first volume are closed before the rename, since
  // Windows renames no file that is open. (The set's lock goes with them; it
  // could not keep anyone off the new file anyway.)
  std::vector<std::string> oldLater;
  for (std::size_t i = 1; i < old.volumes().size(); ++i) {
    oldLater.push_back(old.volumes()[i]->path());
  }
  volumes[0].file.reset();
  set.Close();
  status = env->RenameFile(volumes[0].writePath, firstPath);
  if (!status.ok()) {
    env->DeleteFile(volumes[0].writePath);
    discard();
    return Status::Error(status.code(), firstPath,
                         "cannot be replaced by the new volume: " + status.Reason());
  }
  status = env->SyncDirectory(directory);
  if (!status.ok()) out.warnings.push_back(status.ToString());

  // The old later volumes are no longer named by anything.
  for (const std::string& path : oldLater) {
    const std::string remove = "remove " + path;
    if (stop(remove)) return Status::Error(Status::Code::kInvalid, path, "stopped: " + remove);
    const Status removed = env->DeleteFile(path);
    if (!removed.ok()) {
      out.warnings.push_back(path + ": left behind (" + removed.Reason() +
                             "); it is no longer part of the set");
    }
  }
  if (!oldLater.empty()) {
    status = env->SyncDirectory(directory);
    if (!status.ok()) out.warnings.push_back(status.ToString());
  }
  return Status::Ok();
}

}  // namespace pkfstool

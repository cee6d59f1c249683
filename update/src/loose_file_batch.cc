#include "update/loose_file_batch.h"

#include <cerrno>
#include <memory>

#include "file_payload_sink.h"
#include "platform/ascii_case.h"
#include "platform/clock.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"

namespace update {

namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

platform::Status Failure(int error, const std::string& destination, const char* otherwise) {
  if (error != 0) return platform::Status::FromErrno(error, destination);
  return platform::Status::Error(platform::Status::Code::kIoError, destination, otherwise);
}

}  // namespace

LooseFileBatch::~LooseFileBatch() { Discard(); }

bool LooseFileBatch::IdentifyDirectory(const std::string& directory, DirectoryId* id) const {
  auto known = directories_.find(directory);
  if (known == directories_.end()) {
    const platform::FileStamp stamp = env_->StampOf(directory);
    if (!stamp.exists || !stamp.directory) return false;
    known = directories_.emplace(directory, DirectoryId{stamp.device, stamp.inode}).first;
  }
  *id = known->second;
  return true;
}

LooseFileBatch::Target LooseFileBatch::Locate(const std::string& destination) const {
  return Locate(destination, env_->StampOf(destination));
}

LooseFileBatch::Target LooseFileBatch::Locate(const std::string& destination,
                                              const platform::FileStamp& existing) const {
  Target target;
  target.existing = existing;
  target.path = platform::ResolvePath(destination);
  // A write to a link replaces the file it leads to. (A dangling link has no
  // such file and is replaced itself.)
  if (existing.exists && platform::IsSymbolicLink(target.path)) {
    const std::string canonical = platform::CanonicalPath(destination);
    if (!canonical.empty()) target.path = canonical;
  }
  DirectoryId directory;
  if (IdentifyDirectory(platform::DirectoryOf(target.path), &directory)) {
    target.key = std::to_string(directory.device) + ":" + std::to_string(directory.inode) + "/" +
                 platform::LowerAscii(NameOf(target.path));
    target.device = directory.device;
    target.deviceKnown = true;
  } else {
    target.key = platform::LowerAscii(target.path);
  }
  return target;
}

LooseFileBatch::Staged LooseFileBatch::Begin(const std::string& destination,
                                             const Target& target) const {
  Staged file;
  file.destination = destination;
  file.target = target;
  file.temporary = target.path + kTemporarySuffix;
  // A temporary left by a run that was cut short may be a second name of
  // its source (see StageByLink): truncating it would truncate the source.
  env_->DeleteFile(file.temporary);
  return file;
}

platform::Status LooseFileBatch::StageFrom(const std::string& destination, const Target& target,
                                           const Producer& produce, PayloadResult* decoded,
                                           std::uint64_t* size) {
  *size = 0;
  *decoded = PayloadResult::Decoded();
  if (target.existing.exists && target.existing.directory) {
    return Failure(EISDIR, destination, "");
  }
  Staged file = Begin(destination, target);
  internal::FilePayloadSink sink(env_, file.temporary);
  if (!sink.status().ok()) return Failure(sink.status().error(), destination, "cannot be created");
  *decoded = produce(sink);
  if (decoded->ok() && !sink.Finish()) *decoded = PayloadResult::Stopped();
  sink.Close();
  if (!decoded->ok()) {
    env_->DeleteFile(file.temporary);
    if (decoded->kind == PayloadResult::Kind::kStopped) {
      *decoded = PayloadResult::Decoded();  // not the payload's fault: the write's
      return Failure(sink.status().error(), destination, "the write was cut short");
    }
    return platform::Status::Ok();
  }
  *size = sink.size();
  Add(std::move(file), sink.size());
  return platform::Status::Ok();
}

platform::Status LooseFileBatch::Stage(const std::string& destination, const Target& target,
                                       const unsigned char* data, std::size_t size) {
  if (target.existing.exists && target.existing.directory) {
    return Failure(EISDIR, destination, "");
  }
  Staged file = Begin(destination, target);
  std::unique_ptr<platform::RandomAccessFile> out;
  const platform::Status opened =
      env_->OpenFile(file.temporary, platform::RandomAccessFile::Mode::kCreateReadWrite, &out);
  if (!opened.ok()) return Failure(opened.error(), destination, "cannot be created");
  const platform::Status written = size == 0 ? opened : out->Write(0, data, size);
  out.reset();
  if (!written.ok()) {
    env_->DeleteFile(file.temporary);
    return Failure(written.error(), destination, "the write was cut short");
  }
  Add(std::move(file), size);
  return platform::Status::Ok();
}

bool LooseFileBatch::StageByLink(const std::string& destination, const Target& target,
                                 const std::string& source) {
  if (target.existing.exists && target.existing.directory) return false;
  Staged file;
  file.destination = destination;
  file.target = target;
  file.temporary = target.path + kTemporarySuffix;
  const platform::Status linked = env_->LinkAsNewFile(source, file.temporary);
  if (!linked.ok()) {
    // A temporary left by a run cut short may be a second name of source,
    // which then no longer counts as the sole name of its file.
    if (linked.error() != EMLINK || !env_->IsSameFile(source, file.temporary) ||
        !env_->DeleteFile(file.temporary).ok() ||
        !env_->LinkAsNewFile(source, file.temporary).ok()) {
      return false;
    }
  }
  // Nothing new waits to be written: the batch's byte budget stays as it is.
  Add(std::move(file), 0);
  return true;
}

bool LooseFileBatch::StagePrepared(const std::string& destination, const Target& target,
                                   platform::UnnamedFile& prepared, std::size_t size) {
  if (target.existing.exists && target.existing.directory) return false;
  if (platform::DirectoryOf(target.path) != prepared.directory()) return false;
  Staged file;
  file.destination = destination;
  file.target = target;
  file.temporary = target.path + kTemporarySuffix;
  if (!prepared.Name(file.temporary)) {
    // A leftover of a run cut short may hold the name.
    if (errno != EEXIST || !env_->DeleteFile(file.temporary).ok() ||
        !prepared.Name(file.temporary)) {
      return false;
    }
  }
  Add(std::move(file), size);
  return true;
}

void LooseFileBatch::StageInPlace(const std::string& destination, const Target& target) {
  Staged file;
  file.destination = destination;
  file.target = target;
  Add(std::move(file), 0);
}

void LooseFileBatch::Add(Staged file, std::uint64_t size) {
  if (staged_.empty()) firstStagedAt_ = platform::TickMilliseconds();
  // The replacement may do what the old file could (an executable stays one)
  // and is read by whom the old one was; a new file is as it was delivered.
  if (!file.temporary.empty()) {
    if (file.target.existing.exists) {
      env_->CopyPermissions(file.target.path, file.temporary);
    } else if (!file.target.delivered.empty()) {
      env_->GivePermissionsOfDelivered(file.target.delivered, file.temporary);
    }
  }
  stagedBytes_ += size;
  keys_.insert(file.target.key);
  staged_.push_back(std::move(file));
}

bool LooseFileBatch::Full(std::uint64_t size) const {
  if (staged_.empty()) return false;
  return stagedBytes_ + size > kMaxBytes ||
         platform::TickMilliseconds() - firstStagedAt_ >= kMaxMilliseconds;
}

platform::Status LooseFileBatch::SyncFileSystems(const std::vector<platform::Status>& results,
                                                 bool renamed) {
  std::set<std::uint64_t> synced;
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    if (!results[i].ok()) continue;
    const Staged& file = staged_[i];
    const std::string& path = renamed || file.temporary.empty() ? file.target.path : file.temporary;
    std::uint64_t id = file.target.device;
    if (!file.target.deviceKnown && !env_->FileSystemIdOf(path, &id)) continue;
    if (!synced.insert(id).second) continue;
    ++syncCount_;
    platform::Status status = env_->SyncFileSystemOf(path);
    if (!status.ok()) return status;
  }
  return platform::Status::Ok();
}

std::vector<platform::Status> LooseFileBatch::Commit() {
  std::vector<platform::Status> results(staged_.size());
  if (staged_.empty()) return results;

  // The data first: a rename that reached the disk before its file's bytes
  // would leave an empty or torn file after a power loss.
  const platform::Status dataSynced = SyncFileSystems(results, false);
  if (!dataSynced.ok()) {
    for (std::size_t i = 0; i < staged_.size(); ++i) {
      results[i] = platform::Status::Error(platform::Status::Code::kIoError, staged_[i].destination,
                                           dataSynced.ToString());
    }
    Discard();
    return results;
  }

  for (std::size_t i = 0; i < staged_.size(); ++i) {
    const Staged& file = staged_[i];
    if (file.temporary.empty()) continue;
    const platform::Status renamed = env_->RenameResolvedFile(file.temporary, file.target.path);
    if (!renamed.ok()) {
      results[i] = Failure(renamed.error(), file.destination, "cannot be replaced");
      env_->DeleteFile(file.temporary);
    }
  }

  // Then the directory entries the renames changed.
  const platform::Status renamesSynced = SyncFileSystems(results, true);
  if (!renamesSynced.ok()) {
    for (std::size_t i = 0; i < staged_.size(); ++i) {
      if (results[i].ok()) {
        results[i] = platform::Status::Error(platform::Status::Code::kIoError,
                                             staged_[i].destination, renamesSynced.ToString());
      }
    }
  }
  staged_.clear();
  keys_.clear();
  directories_.clear();
  stagedBytes_ = 0;
  return results;
}

void LooseFileBatch::Discard() {
  for (const Staged& file : staged_) {
    if (!file.temporary.empty()) env_->DeleteFile(file.temporary);
  }
  staged_.clear();
  keys_.clear();
  directories_.clear();
  stagedBytes_ = 0;
}

}  // namespace update

#include "update/loose_file_batch.h"

#include <cerrno>
#include <memory>

#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"

namespace update {

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The file a write to destination should replace: through links to the file
// they lead to, and with the letter case of an existing match.
std::string ReplacementTarget(const std::string& destination) {
  const std::string canonical = platform::CanonicalPath(destination);
  return canonical.empty() ? platform::ResolvePath(destination) : canonical;
}

platform::Status Failure(int error, const std::string& destination, const char* otherwise) {
  if (error != 0) return platform::Status::FromErrno(error, destination);
  return platform::Status::Error(platform::Status::Code::kIoError, destination, otherwise);
}

}  // namespace

LooseFileBatch::~LooseFileBatch() { Discard(); }

platform::Status LooseFileBatch::Stage(const std::string& destination, const unsigned char* data,
                                       std::size_t size) {
  Staged file;
  file.destination = destination;
  file.target = ReplacementTarget(destination);
  file.temporary = file.target + kTemporarySuffix;
  file.key = LowerAscii(file.target);
  if (platform::IsDirectory(file.target)) return Failure(EISDIR, destination, "");

  errno = 0;
  std::unique_ptr<platform::RandomAccessFile> out = platform::RandomAccessFile::Open(
      file.temporary, platform::RandomAccessFile::Mode::kCreateReadWrite);
  if (out == nullptr) return Failure(errno, destination, "cannot be created");
  errno = 0;
  const std::size_t written = size == 0 ? 0 : out->WriteAt(0, data, size);
  const int writeError = errno;
  out.reset();
  if (written != size) {
    platform::DeleteFile(file.temporary);
    return Failure(writeError, destination, "the write was cut short");
  }
  // The replacement may do what the old file could (an executable stays one).
  platform::CopyPermissions(file.target, file.temporary);
  stagedBytes_ += size;
  keys_.insert(file.key);
  staged_.push_back(std::move(file));
  return platform::Status::Ok();
}

bool LooseFileBatch::Holds(const std::string& destination) const {
  return keys_.count(LowerAscii(ReplacementTarget(destination))) != 0;
}

bool LooseFileBatch::Full(std::size_t size) const {
  return staged_.size() >= kMaxFiles || (!staged_.empty() && stagedBytes_ + size > kMaxBytes);
}

platform::Status LooseFileBatch::SyncFileSystems(const std::vector<std::string>& paths) {
  std::set<std::uint64_t> synced;
  for (const std::string& path : paths) {
    std::uint64_t id = 0;
    if (!platform::FileSystemIdOf(path, &id) || !synced.insert(id).second) continue;
    ++syncCount_;
    platform::Status status = platform::SyncFileSystemOf(path);
    if (!status.ok()) return status;
  }
  return platform::Status::Ok();
}

std::vector<platform::Status> LooseFileBatch::Commit() {
  std::vector<platform::Status> results(staged_.size());
  if (staged_.empty()) return results;

  // The data first: a rename that reached the disk before its file's bytes
  // would leave an empty or torn file after a power loss.
  std::vector<std::string> temporaries;
  for (const Staged& file : staged_) temporaries.push_back(file.temporary);
  const platform::Status dataSynced = SyncFileSystems(temporaries);
  if (!dataSynced.ok()) {
    for (std::size_t i = 0; i < staged_.size(); ++i) {
      results[i] = platform::Status::Error(platform::Status::Code::kIoError, staged_[i].destination,
                                           dataSynced.ToString());
    }
    Discard();
    return results;
  }

  std::vector<std::string> replaced;
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    const Staged& file = staged_[i];
    errno = 0;
    if (platform::RenameFile(file.temporary, file.target)) {
      replaced.push_back(file.target);
    } else {
      results[i] = Failure(errno, file.destination, "cannot be replaced");
      platform::DeleteFile(file.temporary);
    }
  }

  // Then the directory entries the renames changed.
  const platform::Status renamesSynced = SyncFileSystems(replaced);
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
  stagedBytes_ = 0;
  return results;
}

void LooseFileBatch::Discard() {
  for (const Staged& file : staged_) platform::DeleteFile(file.temporary);
  staged_.clear();
  keys_.clear();
  stagedBytes_ = 0;
}

}  // namespace update

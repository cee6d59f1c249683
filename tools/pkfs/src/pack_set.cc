// Opening a set for the tool and reading its entries back.
#include "pkfstool/pack_set.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "pkfs/directory_filter.h"
#include "pkfs/normalize_name.h"
#include "pkfs/pack_volume.h"
#include "pkfs/fs_filter.h"
#include "pkfstool/set_scan.h"
#include "platform/file_system.h"

namespace pkfstool {

namespace {

// Entries are read and decoded this many bytes at a time.
constexpr std::size_t kPieceBytes = 1 << 20;

}  // namespace

std::string StoredKey(const std::string& name) {
  std::string key = name;
  pkfs::NormalizeName(key);
  return key;
}

PackSet::PackSet(platform::Env* env)
    : manager_(std::make_unique<pkfs::CFSManager>(platform::GetCurrentDirectory(), env)) {
  // Volume headers and directories are read through the updater's filter.
  manager_->RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  // The tool's own output owns standard output: the library's progress lines
  // ("Load ... to Pkfs", a "Cost Time" line per stored file) are left out;
  // its waits and warnings still reach standard error.
  manager_->SetOutputSink([this](pkfs::OutputStream stream, const std::string& text) {
    if (stream != pkfs::OutputStream::kError) return;
    const std::string line = "pkfs: " + text;
    if (holdWarnings_) {
      heldWarnings_ += line;
    } else {
      std::fflush(stdout);
      pkfs::WriteToStandardStreams(stream, line);
    }
  });
}

// The manager closes the set as it goes, dropping the names whole first.
PackSet::~PackSet() = default;

void PackSet::Close() {
  if (fileSystem_ != nullptr) fileSystem_->Release();
}

void PauseBeforeAttempt(int attempt) {
  std::this_thread::sleep_for(std::chrono::milliseconds(5 * attempt));
}

platform::Status PackSet::Open(const std::string& path) {
  platform::Status loaded;
  std::string before;
  holdWarnings_ = true;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (attempt > 0) PauseBeforeAttempt(attempt);
    heldWarnings_.clear();
    loaded = Load(path, /*create=*/false, /*readOnly=*/true);
    const std::string unsettled = Unsettled(loaded);
    if (unsettled.empty()) break;
    // The same damage twice in a row, with nothing committed in between, is
    // the set's own, not a commit seen half-way.
    if (unsettled == before) break;
    before = unsettled;
  }
  holdWarnings_ = false;
  if (!heldWarnings_.empty()) {
    std::fflush(stdout);
    pkfs::WriteToStandardStreams(pkfs::OutputStream::kError, heldWarnings_);
    heldWarnings_.clear();
  }
  return loaded;
}

platform::Status PackSet::OpenForWriting(const std::string& path) {
  return Load(path, /*create=*/false, /*readOnly=*/false);
}

platform::Status PackSet::OpenOrCreate(const std::string& path) {
  return Load(path, /*create=*/true, /*readOnly=*/false);
}

std::string PackSet::Unsettled(const platform::Status& loaded) const {
  if (!loaded.ok()) {
    // A header and a directory from two commits do not load; a missing or
    // foreign file does so every time.
    return loaded.code() == platform::Status::Code::kNotFound ||
                   loaded.code() == platform::Status::Code::kInvalid
               ? std::string()
               : loaded.ToString();
  }
  if (!Unchanged()) return "changed";
  // A chain that stops at a volume its trailer names, or a directory that
  // does not match its checksum, may be a commit seen half-way, or damage.
  const auto& volumes = fileSystem_->volumes();
  const pkfs::PackTrailer* trailer = volumes.back()->trailer();
  if (trailer != nullptr && !trailer->nextName.empty()) {
    return "chain: " + fileSystem_->lastFailure().ToString();
  }
  const platform::Status damage = Damage();
  return damage.ok() ? std::string() : damage.ToString();
}

bool PackSet::VolumeUnchanged(const pkfs::PackVolume& volume) const {
  if (fileSystem_ == nullptr || !fileSystem_->readOnly()) return true;
  unsigned char bytes[pkfs::kPackHeaderBytes];
  if (volume.stream()->ReadAt(0, bytes, sizeof bytes) != static_cast<long long>(sizeof bytes)) {
    return false;
  }
  pkfs::DecodeDirectoryBlock(manager_.get(), bytes, sizeof bytes);
  const pkfs::PackHeader header = pkfs::PackHeader::Parse(bytes);
  return header.tableOffset == volume.tableOffset() && header.tableSize == volume.tableSize() &&
         header.headCount == volume.headCount();
}

bool PackSet::Unchanged() const {
  if (fileSystem_ == nullptr || !fileSystem_->readOnly()) return true;
  const auto& volumes = fileSystem_->volumes();
  if (volumes.empty()) return true;
  // A compaction puts a new set in place under the first volume's name.
  if (!volumes.front()->stream()->IsFileAt(path_)) return false;
  for (const auto& volume : volumes) {
    if (!VolumeUnchanged(*volume)) return false;
  }
  return true;
}

platform::Status PackSet::Damage() const {
  if (fileSystem_ == nullptr) return platform::Status::Ok();
  for (const auto& volume : fileSystem_->volumes()) {
    if (volume->checksumMismatch()) {
      return platform::Status::Error(platform::Status::Code::kCorrupt, volume->name(),
                                     "directory checksum does not match");
    }
  }
  return platform::Status::Ok();
}

platform::Status PackSet::Load(const std::string& path, bool create, bool readOnly) {
  using platform::Status;
  Close();
  path_ = path;
  const bool exists = platform::PathExists(path);
  if (!exists && !create) return Status::Error(Status::Code::kNotFound, path, "no such file");
  if (exists && platform::IsDirectory(path)) {
    return Status::Error(Status::Code::kInvalid, path, "is a directory, not a pack volume");
  }
  if (!exists) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0 && !platform::IsDirectory(path.substr(0, slash))) {
      return Status::Error(Status::Code::kNotFound, path,
                           "cannot be created: its directory does not exist");
    }
  }
  auto owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
  pkfs::CPKFSF* fileSystem = owned.get();
  fileSystem->SetReadOnly(readOnly);
  bool loaded = manager_->SetFileSystem(path, std::move(owned));
  fileSystem_ = fileSystem;  // the manager owns it from here on
  if (!loaded && !exists) loaded = manager_->CreateVolume(path);
  if (loaded) return Status::Ok();
  if (!exists) return Status::Error(Status::Code::kIoError, path, "cannot be created");
  // Say what is wrong with the first volume.
  const SetScan scan = ScanSet(path, *manager_);
  if (!scan.volumes.empty() && !scan.volumes.front().problems.empty()) {
    return Status::Error(Status::Code::kCorrupt, path, scan.volumes.front().problems.front());
  }
  return Status::Error(Status::Code::kIoError, path, "cannot be opened for reading and writing");
}

const pkfs::FileHead* PackSet::Find(const std::string& name) const {
  return FindKey(StoredKey(name));
}

const pkfs::FileHead* PackSet::FindKey(const std::string& key) const {
  const pkfs::FileHead* head = manager_->FindName(key);
  // Only what a volume stores counts; the manager's map holds nothing else.
  return head != nullptr && head->owner != nullptr ? head : nullptr;
}

std::vector<const pkfs::FileHead*> PackSet::Entries() const {
  std::vector<const pkfs::FileHead*> entries;
  entries.reserve(manager_->fileMap().size());
  for (const auto& named : manager_->fileMap()) {
    if (named.second != nullptr && named.second->owner != nullptr) {
      entries.push_back(named.second);
    }
  }
  // The map keeps no order: listings come sorted by name, byte by byte.
  std::sort(entries.begin(), entries.end(),
            [](const pkfs::FileHead* a, const pkfs::FileHead* b) { return a->name < b->name; });
  return entries;
}

bool PackSet::InForce(const pkfs::FileHead& head) const {
  return manager_->FindName(head.name) == &head;
}

platform::Status PackSet::ReadEntry(const pkfs::FileHead& head, const Sink& sink) {
  using platform::Status;
  if (head.owner == nullptr) return Status::Error(Status::Code::kNotFound, head.name, "not stored");
  const bool decode = (head.flags & pkfs::kFlagInPlace) != 0;
  if (decode && head.size > 0 && head.FilterId() != 0) {
    return Status::Error(Status::Code::kCorrupt, head.name,
                         "stored through filter " + std::to_string(head.FilterId()) +
                             ", which this tool does not know");
  }
  if (piece_.size() < kPieceBytes) piece_.resize(kPieceBytes);
  // The first piece takes its carry from the entry's last stored byte, each
  // later one from the stored byte before it.
  unsigned char carry = 0;
  if (decode && head.size > 0 &&
      !pkfs::VolumeOf(head)->ReadBuffer(&carry, head.start + head.size - 1, 1)) {
    return Status::Error(Status::Code::kIoError, head.name, "cannot be read from its volume");
  }
  for (std::uint32_t done = 0; done < head.size;) {
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(kPieceBytes, static_cast<std::size_t>(head.size - done)));
    const bool read = pkfs::VolumeOf(head)->ReadBuffer(piece_.data(), head.start + done, length);
    // Bytes read after a commit may lie in places it gave back.
    if (!VolumeUnchanged(*pkfs::VolumeOf(head))) {
      return Status::Error(Status::Code::kBusy, head.name,
                           "changed by another process while it was read");
    }
    if (!read) {
      return Status::Error(Status::Code::kIoError, head.name, "cannot be read from its volume");
    }
    if (decode) {
      const unsigned char nextCarry = piece_[length - 1];
      pkfs::DecodeWithCarry(piece_.data(), length, carry);
      carry = nextCarry;
    }
    Status status = sink(piece_.data(), length);
    if (!status.ok()) return status;
    done += length;
  }
  return Status::Ok();
}

}  // namespace pkfstool

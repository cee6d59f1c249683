// Opening a set for the tool and reading its entries back.
#include "pkfstool/pack_set.h"

#include <algorithm>
#include <utility>

#include "normalize_name.h"
#include "pack_archive.h"
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

PackSet::PackSet() : manager_(std::make_unique<pkfs::CFSManager>()) {
  // Volume headers and directories are read through the updater's filter.
  manager_->RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  // The tool's own output owns standard output: the library's progress lines
  // ("Load ... to Pkfs", a "Cost Time" line per stored file) are left out;
  // its waits and warnings still reach standard error.
  manager_->SetOutputSink([](pkfs::OutputStream stream, const std::string& text) {
    if (stream == pkfs::OutputStream::kError) pkfs::WriteToStandardStreams(stream, text);
  });
}

// The manager closes the set as it goes, dropping the names whole first.
PackSet::~PackSet() = default;

void PackSet::Close() {
  if (fileSystem_ != nullptr) fileSystem_->Release();
}

platform::Status PackSet::Open(const std::string& path) { return Load(path, false); }

platform::Status PackSet::OpenOrCreate(const std::string& path) { return Load(path, true); }

platform::Status PackSet::Load(const std::string& path, bool create) {
  using platform::Status;
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
  const pkfs::FileHead* head = manager_->FindName(StoredKey(name));
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
  if (decode && head.size > 0 && !head.owner->ReadBuffer(&carry, head.start + head.size - 1, 1)) {
    return Status::Error(Status::Code::kIoError, head.name, "cannot be read from its volume");
  }
  for (std::uint32_t done = 0; done < head.size;) {
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(kPieceBytes, static_cast<std::size_t>(head.size - done)));
    if (!head.owner->ReadBuffer(piece_.data(), head.start + done, length)) {
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

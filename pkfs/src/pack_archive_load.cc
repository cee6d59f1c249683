// Opening a volume: header check, reading and checking the directory, and
// following the chain of volumes through the trailers.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "pkfs/directory_filter.h"
#include "pack_archive.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/path_spelling.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

struct Region {
  std::uint64_t start;
  std::uint64_t end;
};

// Offsets and region ends are 32-bit everywhere in memory (free-space list,
// positioned reads): a region reaching past this would wrap to the front of
// the volume, even in a file that long.
constexpr std::uint64_t kLastAddressableEnd = 0xFFFFFFFFu;

// How often a volume replaced while its lock was awaited is opened again.
constexpr int kReopenAttempts = 8;

// What a region may reach: the end of the file, within 32-bit offsets.
std::uint64_t RegionLimit(std::uint64_t fileSize) {
  return fileSize < kLastAddressableEnd ? fileSize : kLastAddressableEnd;
}

}  // namespace

PackArchive::PackArchive(std::unique_ptr<platform::RandomAccessFile> stream,
                         const PackHeader& header, CPKFSF* fileSystem)
    : fileSystem_(fileSystem),
      tableOffset_(header.tableOffset),
      tableSize_(header.tableSize),
      headCount_(header.headCount),
      stream_(std::move(stream)) {
  std::memcpy(magic_, header.magic, sizeof magic_);
}

PackArchive::~PackArchive() {
  for (const HeadPtr& head : heads_) ForgetName(head.get());
  heads_.clear();
  nameMap_.clear();
}

void LibraryOutput(const CFSManager* manager, OutputStream stream, const std::string& text) {
  if (manager != nullptr) {
    manager->Output(stream, text);
  } else {
    WriteToStandardStreams(stream, text);
  }
}

CFSManager* PackArchive::manager() const {
  return fileSystem_ != nullptr ? fileSystem_->manager() : nullptr;
}

NameIndex& PackArchive::Names() const {
  if (unbuilt_.kept()) fileSystem_->BuildPendingNames();
  if (!namesBuilt_) {
    nameMap_.clear();
    nameMap_.reserve(heads_.size());
    for (const HeadPtr& head : heads_) nameMap_.PutIfAbsent(head.get());  // the first one stays
    namesBuilt_ = true;
  }
  return nameMap_;
}

FileHead* PackArchive::FindHead(const std::string& name) const {
  if (!unbuilt_.kept()) return Names().Find(name);
  // The volume's own map keeps the first head of a name.
  const std::size_t index = unbuilt_.Find(name, /*last=*/false);
  if (index == UnbuiltDirectory::kNone) return nullptr;
  auto* self = const_cast<PackArchive*>(this);  // a head built on demand
  return self->unbuilt_.HeadAt(index, self);
}

const std::vector<HeadPtr>& PackArchive::heads() const {
  if (unbuilt_.kept()) fileSystem_->BuildPendingNames();
  return heads_;
}

FileHead* PackArchive::FindPendingHead(const std::string& name) {
  if (!unbuilt_.kept()) return nullptr;
  // The manager's map keeps the last head registered under a name.
  const std::size_t index = unbuilt_.Find(name, /*last=*/true);
  return index == UnbuiltDirectory::kNone ? nullptr : unbuilt_.HeadAt(index, this);
}

void PackArchive::BuildPendingHeads() {
  if (!unbuilt_.kept()) return;
  unbuilt_.Build(this, &loadedHeads_, &heads_);
  if (CFSManager* names = manager()) {
    names->ReserveNames(heads_.size());
    for (const HeadPtr& head : heads_) names->AddName(head.get());
  }
}

void PackArchive::ForgetName(FileHead* head) {
  CFSManager* names = manager();
  // Another volume may have registered the name since; its entry stays.
  if (names != nullptr && names->FindName(head->name) == head) names->RemoveName(head);
}

// Header, table and every region lie inside the file (and below 4 GiB) and
// apart.
template <typename ForEachRegion>
bool PackArchive::RegionsAreSound(std::uint64_t fileSize,
                                  const ForEachRegion& forEachRegion) const {
  const std::uint64_t limit = RegionLimit(fileSize);
  const Region header{0, kPackHeaderBytes};
  const Region table{tableOffset_, static_cast<std::uint64_t>(tableOffset_) + tableSize_};
  // A volume the updater wrote holds its files in order, then the table: one
  // pass over the records shows them apart without a list of the regions.
  std::uint64_t usedUpTo = 0;
  std::uint64_t lastStart = 0;
  bool inOrder = true;
  bool inside = true;
  const auto take = [&](const Region& region) {
    if (region.start < lastStart) inOrder = false;
    lastStart = region.start;
    if (region.start == region.end) return true;  // an empty table takes no room
    if (region.start < usedUpTo) return false;
    usedUpTo = region.end;
    return true;
  };
  bool apart = take(header);
  forEachRegion([&](std::uint32_t start, std::uint32_t size) {
    const Region region{start, static_cast<std::uint64_t>(start) + size};
    if (region.end > limit) inside = false;
    if (inOrder) apart = take(region) && apart;
  });
  if (!inside) return false;
  if (inOrder) apart = take(table) && apart;
  if (inOrder) return apart;

  // Any other order is sorted first.
  std::vector<Region> regions;
  regions.push_back(header);
  forEachRegion([&regions](std::uint32_t start, std::uint32_t size) {
    regions.push_back(Region{start, static_cast<std::uint64_t>(start) + size});
  });
  regions.push_back(table);
  std::sort(regions.begin(), regions.end(),
            [](const Region& a, const Region& b) { return a.start < b.start; });
  usedUpTo = 0;
  for (const Region& region : regions) {
    if (region.start == region.end) continue;
    if (region.start < usedUpTo) return false;
    usedUpTo = region.end;
  }
  return true;
}

platform::Status PackArchive::ReadDirectory() {
  auto broken = [this](const char* why) {
    heads_.clear();
    nameMap_.clear();
    namesBuilt_ = false;
    loadedHeads_.reset();
    trailer_.reset();
    unbuilt_.Clear();
    return platform::Status::Error(platform::Status::Code::kCorrupt, name_, why);
  };
  const std::uint64_t fileSize = stream_->Size();
  // The table must lie inside the file before anything is allocated for it.
  if (tableOffset_ < kPackHeaderBytes) return broken("directory overlaps the header");
  if (static_cast<std::uint64_t>(tableOffset_) + tableSize_ > RegionLimit(fileSize)) {
    return broken("directory runs past the end of the file");
  }
  // Not zeroed first: the read fills it (and zeroes what it cannot).
  const std::size_t length = tableSize_;
  std::unique_ptr<unsigned char[]> tableBytes(new unsigned char[length + 1]);
  unsigned char* const table = tableBytes.get();
  if (!ReadBuffer(table, tableOffset_, tableSize_)) {
    return platform::Status::Error(platform::Status::Code::kIoError, name_,
                                   "directory cannot be read");
  }
  DecodeDirectoryBlock(manager(), table, length);

  // Every record takes at least 20 bytes, so the count read from disk cannot
  // ask for more than the table can hold.
  const std::size_t most = std::min<std::size_t>(headCount_, tableSize_ / kFileHeadFixedBytes);
  if (headCount_ > most) return broken("file record runs past the end of the directory");
  // A set opened for reading builds its heads only when asked (headsPending).
  const bool pending = fileSystem_ != nullptr && fileSystem_->readOnly();
  std::vector<std::uint32_t> records;
  if (pending) {
    records.reserve(most);
  } else {
    loadedHeads_.reset(new FileHead[most]);
    heads_.reserve(most);
  }
  std::size_t position = 0;
  for (std::uint32_t i = 0; i < headCount_; ++i) {
    FileRecord record;
    const std::size_t used = ParseFileRecord(table + position, length - position, &record);
    if (used == 0) return broken("file record runs past the end of the directory");
    // An empty record takes no space and is dropped.
    if (record.size != 0) {
      if (pending) {
        records.push_back(static_cast<std::uint32_t>(position));
      } else {
        FileHead* head = &loadedHeads_[i];
        head->owner = this;
        head->Assign(record);
        heads_.emplace_back(head, HeadDeleter(true));
      }
    }
    position += used;
  }
  if (position < length) {
    trailer_ = std::make_unique<PackTrailer>();
    if (trailer_->Parse(table + position, length - position) == 0) {
      return broken("directory trailer is damaged");
    }
    // Loading never refused a volume for its checksum, and does not now; the
    // mismatch is only worth a word.
    if (trailer_->checksum != ByteSum(table, position)) checksumMismatch_ = true;
  }
  bool sound;
  if (pending) {
    sound = RegionsAreSound(fileSize, [&records, table, length](const auto& take) {
      for (const std::uint32_t offset : records) {
        FileRecord record;
        ParseFileRecord(table + offset, length - offset, &record);
        take(record.start, record.size);
      }
    });
  } else {
    sound = RegionsAreSound(fileSize, [this](const auto& take) {
      for (const HeadPtr& head : heads_) take(head->start, head->size);
    });
  }
  if (!sound) return broken("file data lie outside the file or overlap");
  if (pending) unbuilt_.Keep(std::move(tableBytes), length, std::move(records));
  return platform::Status::Ok();
}

bool PackArchive::Init() {
  ScopeTimer timer("Init");
  // Registering before the next volume loads lets a later volume's copy of a
  // name win in the manager's map.
  BuildLeak();
  if (trailer_ == nullptr || trailer_->nextName.empty() || fileSystem_ == nullptr) return false;
  // Later volumes lie beside this one, wherever the process runs from; a
  // trailer that leads back into the set ends the chain here.
  const std::string nextPath = PathBeside(path(), trailer_->nextName);
  if (fileSystem_->IsLoaded(nextPath)) return false;
  PackArchive* following = LoadFromFile(trailer_->nextName, fileSystem_, nextPath);
  if (following == nullptr) {
    // The set goes on being read as far as it loaded. A volume that is there
    // but did not load may hold copies of names this process cannot see, so
    // the set is not written either; one that is gone holds nothing.
    const platform::Status& why = fileSystem_->lastFailure();
    if (why.error() == ENOENT) return false;
    fileSystem_->NoteUnloadedVolume(
        !why.ok() ? why
                  : platform::Status::Error(platform::Status::Code::kCorrupt,
                                            trailer_->nextName, "does not load"));
    return false;
  }
  next_ = following;
  return true;
}

std::string PathBeside(const std::string& volumePath, const std::string& name) {
  if (name.empty() || platform::IsPathSeparator(name[0]) || name.find(':') != std::string::npos) {
    return name;
  }
  const std::size_t slash = volumePath.find_last_of("/\\");
  if (slash == std::string::npos) return name;
  return volumePath.substr(0, slash + 1) + name;
}

PackArchive* LoadFromFile(const std::string& name, CPKFSF* fileSystem) {
  return LoadFromFile(name, fileSystem, name);
}

PackArchive* LoadFromFile(const std::string& name, CPKFSF* fileSystem, const std::string& path) {
  ScopeTimer timer("LoadFromFile");
  if (fileSystem == nullptr || name.empty() || path.empty()) return nullptr;
  // A volume is never opened twice: a second lock on it would wait forever.
  if (fileSystem->IsLoaded(path)) return nullptr;
  std::unique_ptr<platform::RandomAccessFile> stream;
  // A reader takes no lock and opens for reading only (see SetReadOnly).
  const bool readOnly = fileSystem->readOnly();
  // A set rewritten while this process waited (compacted, renamed over) is
  // no longer the file that was opened: open the path again.
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    const platform::Status opened = fileSystem->env()->OpenFile(
        path,
        readOnly ? platform::RandomAccessFile::Mode::kRead
                 : platform::RandomAccessFile::Mode::kReadWrite,
        &stream);
    if (!opened.ok()) {
      fileSystem->NoteFailure(opened.About(name));
      return nullptr;
    }
    if (readOnly) break;
    // Another process that has the set open may be changing it: wait for it.
    const platform::Status locked =
        stream->LockExclusive(fileSystem->lockTimeout(), [fileSystem, &path] {
          LibraryOutput(fileSystem->manager(), OutputStream::kError,
                        "Waiting for " + path + ": another process has it open\n");
        });
    if (!locked.ok()) {
      fileSystem->NoteFailure(locked);
      return nullptr;
    }
    if (stream->IsFileAt(path)) break;
    stream.reset();
  }
  if (stream == nullptr) {
    fileSystem->NoteFailure(platform::Status::Error(platform::Status::Code::kBusy, name,
                                                    "replaced while waiting for it"));
    return nullptr;
  }

  unsigned char bytes[kPackHeaderBytes] = {};
  if (stream->ReadAt(0, bytes, sizeof bytes) != static_cast<long long>(sizeof bytes)) {
    fileSystem->NoteFailure(platform::Status::Error(platform::Status::Code::kCorrupt, name,
                                                    "not a pack volume (too short)"));
    return nullptr;
  }
  DecodeDirectoryBlock(fileSystem->manager(), bytes, sizeof bytes);
  const PackHeader header = PackHeader::Parse(bytes);
  if (!header.HasMagic()) {
    fileSystem->NoteFailure(
        platform::Status::Error(platform::Status::Code::kCorrupt, name, "not a pack volume"));
    return nullptr;
  }
  auto archive = std::make_unique<PackArchive>(std::move(stream), header, fileSystem);
  archive->set_name(name);
  const platform::Status directory = archive->ReadDirectory();
  if (!directory.ok()) {
    fileSystem->NoteFailure(directory);
    return nullptr;
  }
  if (archive->checksumMismatch()) {
    LibraryOutput(
        fileSystem->manager(), OutputStream::kError,
        name + ": directory checksum does not match; the volume is read, but the set is not "
               "written\n");
  }

  LibraryOutput(fileSystem->manager(), OutputStream::kOutput, "Load " + name + " to Pkfs\n");
  PackArchive* loaded = archive.release();
  fileSystem->AppendArchive(loaded);
  loaded->Init();
  return loaded;
}

}  // namespace pkfs

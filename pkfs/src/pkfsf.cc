// The pack file system: a set of chained volumes behind the file-system
// interface.
#include "pkfs/pkfsf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "name_rule.h"
#include "pkfs/normalize_name.h"
#include "pack_archive.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "scope_timer.h"
#include "volume_creation.h"

namespace pkfs {

namespace {

// The volume pattern with its one "%d" filled in.
std::string VolumeName(const std::string& pattern, std::size_t number) {
  std::string name = pattern;
  const std::size_t at = name.find("%d");
  if (at != std::string::npos) name.replace(at, 2, std::to_string(number));
  return name;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

CPKFSF::CPKFSF(CFSManager* manager) : CFS(manager), rules_(std::make_unique<NameRuleList>()) {}

CPKFSF::~CPKFSF() { Release(); }

void CPKFSF::AddNameRule(const std::string& pattern, std::uint16_t id) {
  rules_->AddNameRule(pattern, id);
}

bool CPKFSF::MatchInPlaceRule(const std::string& name, std::uint16_t* id) const {
  return rules_->MatchInPlaceRule(name, id);
}

bool CPKFSF::MatchResizingRule(const std::string& name, std::uint16_t* id) const {
  return rules_->MatchResizingRule(name, id);
}

void CPKFSF::Release() {
  // Handles that stay open across a release keep their place in the open
  // files but lose their entry: they read nothing instead of freed heads.
  if (manager_ != nullptr) {
    for (CFSFile* handle : manager_->openFiles()) {
      if (handle->archive == nullptr || !Holds(handle->archive)) continue;
      handle->entry = nullptr;
      handle->archive = nullptr;
      handle->cache->valid = false;
    }
  }
  // In loading order; each volume leaves the name map and closes its file.
  // Changes not committed are dropped with them.
  for (std::unique_ptr<PackArchive>& volume : archives_) volume.reset();
  archives_.clear();
  inBatch_ = false;
}

void CPKFSF::AppendArchive(PackArchive* volume) {
  if (volume != nullptr) archives_.emplace_back(volume);
}

bool CPKFSF::Holds(const PackArchive* volume) const {
  for (const std::unique_ptr<PackArchive>& held : archives_) {
    if (held.get() == volume) return true;
  }
  return false;
}

bool CPKFSF::IsLoaded(const std::string& volumePath) const {
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume->path() == volumePath || env()->IsSameFile(volume->path(), volumePath)) {
      return true;
    }
  }
  return false;
}

platform::Status CPKFSF::WriteRefusal() const {
  using platform::Status;
  if (readOnly_) {
    return Status::Error(Status::Code::kInvalid, primary() != nullptr ? primary()->name() : "pack",
                         "loaded read only; not written");
  }
  if (!unloadedVolume_.ok()) {
    return Status::Error(unloadedVolume_.code(), unloadedVolume_.context(),
                         unloadedVolume_.Reason() +
                             "; the set is not written while a volume of its chain does not load");
  }
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume->checksumMismatch()) {
      return Status::Error(Status::Code::kCorrupt, volume->name(),
                           "directory checksum does not match; the set is not written until it "
                           "is rebuilt ('pkfs compact --salvage')");
    }
  }
  return Status::Ok();
}

void CPKFSF::NoteUnloadedVolume(const platform::Status& why) {
  if (unloadedVolume_.ok()) unloadedVolume_ = why;
}

bool CPKFSF::RefuseWrite() {
  const platform::Status refusal = WriteRefusal();
  if (refusal.ok()) return false;
  NoteFailure(refusal);
  return true;
}

bool CPKFSF::Load(const std::string& name) {
  NoteFailure(platform::Status::Ok());
  unloadedVolume_ = platform::Status::Ok();
  if (LoadFromFile(name, this) == nullptr) return false;
  // The set's lock is held from here on: a scratch volume beside it is what
  // a stopped run left while making the first or the next volume. A set
  // loaded read only is not touched.
  if (readOnly_) return true;
  RemoveLeftoverScratch(env(), primary()->path());
  RemoveLeftoverScratch(env(), NextVolumePath(std::string(), nullptr));
  return true;
}

std::string CPKFSF::NextVolumePath(const std::string& requested, std::string* name) const {
  std::size_t number = archives_.size();
  std::string chosen = requested.empty() ? VolumeName(volumePattern_, number) : requested;
  // A new later volume goes beside the first one, where loading looks for it.
  auto where = [this, &requested](const std::string& volumeName) {
    return requested.empty() && primary() != nullptr ? PathBeside(primary()->path(), volumeName)
                                                     : volumeName;
  };
  while (platform::PathExists(where(chosen))) chosen = VolumeName(volumePattern_, ++number);
  if (name != nullptr) *name = chosen;
  return where(chosen);
}

bool CPKFSF::CreateVolume(const std::string& requested) {
  NoteFailure(platform::Status::Ok());
  if (RefuseWrite()) return false;
  BatchScope scope(this);
  std::string name;
  const std::string path = NextVolumePath(requested, &name);
  // Each step that fails says so, naming the new volume.
  auto fail = [this, &name, &scope](const platform::Status& why) {
    NoteFailure(platform::Status::Error(why.code(), name, "cannot be created: " + why.Reason()));
    return scope.Finish(false);
  };
  // Whole under its name, or not there at all; the commits that fill it and
  // the trailer that links it come later, each safe on its own.
  const platform::Status written = CreateEmptyVolume(env(), path, manager_);
  if (!written.ok()) return fail(written);
  PackArchive* created = LoadFromFile(name, this, path);
  if (created == nullptr) {
    // The load said why; it names the volume already.
    if (lastFailure_.ok())
      return fail(platform::Status::Error(platform::Status::Code::kCorrupt, name, "does not load"));
    return scope.Finish(false);
  }
  created->MarkCreated();
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume.get() == created || volume->next() != nullptr) continue;
    PackArchive* previous = volume.get();
    if (previous->LinkNextVolume(created) && scope.Finish(true)) return true;
    // The trailer that names the new volume was not written (the commit
    // took the new volume back again).
    const platform::Status why = lastFailure_.ok()
                                     ? platform::Status::Error(platform::Status::Code::kIoError,
                                                               previous->name(), "write failed")
                                     : lastFailure_;
    NoteFailure(platform::Status::Error(why.code(), previous->name(),
                                        "cannot chain " + name + " behind it: " + why.Reason()));
    return false;
  }
  return scope.Finish(true);
}

PackArchive* CPKFSF::BeginAdd(const std::string& name, std::string* key) {
  NoteFailure(platform::Status::Ok());
  PackArchive* first = primary();
  if (first == nullptr) {
    NoteFailure(platform::Status::Error(platform::Status::Code::kInvalid, name,
                                        "no pack volume is loaded"));
    return nullptr;
  }
  *key = name;
  NormalizeName(*key);
  return first;
}

bool CPKFSF::AddFile(const std::string& name, unsigned char* data, std::uint32_t length) {
  std::string key;
  PackArchive* first = BeginAdd(name, &key);
  return first != nullptr && first->AddFileFromBuffer(key, data, length, /*delegated=*/false);
}

bool CPKFSF::AddFileFromSource(const std::string& name, std::uint64_t size,
                               const PieceSource& source) {
  std::string key;
  PackArchive* first = BeginAdd(name, &key);
  if (first == nullptr) return false;
  if (size > LargestFileSize()) {
    NoteFailure(TooLargeForVolume(key, size, sizeLimit_));
    return false;
  }
  return first->AddFileFromSource(key, static_cast<std::uint32_t>(size), source,
                                  /*delegated=*/false);
}

std::uint64_t CPKFSF::LargestFileSize() const { return LargestFileSizeUnder(sizeLimit_); }

bool CPKFSF::RemoveCopies(const std::string& name, const FileHead* keep) {
  BatchScope scope(this);
  bool refused = false;
  std::size_t visited = 0;
  // The chain cannot be longer than the set; the bound guards the walk.
  for (PackArchive* volume = primary(); volume != nullptr && visited < archives_.size();
       volume = volume->next(), ++visited) {
    const FileHead* held = volume->FindHead(name);
    if (held == nullptr || held == keep) continue;
    refused |= volume->RemoveStoredFile(name) == PackArchive::RemoveOutcome::kFailed;
  }
  return scope.Finish(!refused);
}

bool CPKFSF::RemoveFile(const std::string& name) {
  ScopeTimer timer("OnRemoveFile");
  NoteFailure(platform::Status::Ok());
  if (primary() != nullptr && !HoldsName(name)) NoteMissing(name);
  return RemoveCopies(name, nullptr);
}

PackVolume* VolumeOf(const FileHead& head) { return head.owner; }

std::vector<const PackVolume*> CPKFSF::volumes() const {
  std::vector<const PackVolume*> volumes;
  volumes.reserve(archives_.size());
  for (const std::unique_ptr<PackArchive>& volume : archives_) volumes.push_back(volume.get());
  return volumes;
}

bool CPKFSF::NamesPending() const {
  // A volume being closed is already null here.
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume != nullptr && volume->headsPending()) return true;
  }
  return false;
}

FileHead* CPKFSF::FindPendingName(const std::string& key) {
  // Each look-up reads the records again; past a few, the heads are built
  // and indexed once, so that many look-ups never cost a pass each.
  if (++pendingLookups_ > kPendingLookups) {
    BuildPendingNames();
    return manager_ != nullptr ? manager_->FindName(key) : nullptr;
  }
  // A later volume's copy of a name is the one in force, as in the map.
  for (std::size_t i = archives_.size(); i-- > 0;) {
    if (archives_[i] == nullptr) continue;
    if (FileHead* head = archives_[i]->FindPendingHead(key)) return head;
  }
  return nullptr;
}

void CPKFSF::BuildPendingNames() {
  // In the order of the set, as a load registers them.
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume != nullptr) volume->BuildPendingHeads();
  }
}

bool CPKFSF::HoldsName(const std::string& name) const {
  for (const std::unique_ptr<PackArchive>& volume : archives_) {
    if (volume->FindHead(name) != nullptr) return true;
  }
  return false;
}

void CPKFSF::NoteMissing(const std::string& name) {
  NoteFailure(platform::Status::Error(platform::Status::Code::kNotFound,
                                      primary() != nullptr ? primary()->name() : name,
                                      name + " is not stored in the set"));
}

void CPKFSF::Command(const std::string& name, std::string& text) {
  if (!StartsWith(name, "CFS") && StartsWith(name, "CPKFSF") && primary() != nullptr) {
    Publish(primary(), name, text.c_str());
  }
  CFS::Command(name, text);
}

bool CPKFSF::CloseFile(CFSFile* handle) {
  if (handle != nullptr && manager_ != nullptr) manager_->ForgetFile(handle);
  return true;
}

void CPKFSF::OnFileOpened(CFSFile* handle) {
  ScopeTimer timer("UpdateFileHandle");
  if (handle == nullptr || handle->entry == nullptr || (handle->mode & kModeWrite) == 0) return;
  // What is written next replaces the content; the stored bytes stay named
  // on disk until the next directory write.
  if (handle->archive != nullptr) {
    handle->archive->TruncateHead(handle->entry);
  } else {
    handle->entry->size = 0;
  }
}

int CPKFSF::RawRead(void* buffer, std::uint32_t length, CFSFile* handle) {
  if (buffer == nullptr || handle == nullptr || handle->entry == nullptr ||
      handle->archive == nullptr || handle->position < 0) {
    return 0;
  }
  const FileHead& entry = *handle->entry;
  const auto position = static_cast<std::uint32_t>(handle->position);
  if (position >= entry.size) return 0;
  const std::uint32_t n = std::min({length, entry.size - position, std::uint32_t{INT_MAX}});
  // Bytes that did not arrive are no data: the read fails rather than
  // handing back zeros.
  if (!handle->archive->ReadBuffer(buffer, entry.start + position, n)) {
    NoteFailure(
        platform::Status::Error(platform::Status::Code::kIoError, handle->archive->name(),
                                "read failed at offset " + std::to_string(entry.start + position)));
    return -1;
  }
  return static_cast<int>(n);
}

}  // namespace pkfs

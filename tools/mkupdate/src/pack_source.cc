// Reading a set through the library's public interface: a manager of its
// own with the updater's id-0 filter, loaded without its progress lines.
#include "mkupdate/pack_source.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/output_sink.h"
#include "pkfs/pkfsf.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace mkupdate {

namespace {

std::mutex& LibraryLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

PackSource::PackSource() = default;

PackSource::~PackSource() {
  std::lock_guard<std::mutex> guard(LibraryLock());
  if (fileSystem_ != nullptr) fileSystem_->Release();
  manager_.reset();
}

std::size_t PackSource::volumeCount() const {
  return fileSystem_ != nullptr ? fileSystem_->archives().size() : 0;
}

bool PackSource::IsVolume(const std::string& path) const {
  std::lock_guard<std::mutex> guard(LibraryLock());
  return fileSystem_ != nullptr && fileSystem_->IsLoaded(path);
}

platform::Status PackSource::Open(const std::string& installation, const std::string& packName) {
  using platform::Status;
  const std::string path = installation + "/" + packName;
  shownName_ = path;
  if (!platform::PathExists(path)) return Status::Ok();  // no set: nothing stored
  if (platform::IsSymbolicLink(path)) {
    return Status::Error(Status::Code::kInvalid, path,
                         "is a symbolic link, which is not followed out of the installation");
  }
  if (platform::IsDirectory(path)) {
    return Status::Error(Status::Code::kInvalid, path, "is a directory, not a pack volume");
  }
  std::lock_guard<std::mutex> guard(LibraryLock());
  manager_ = std::make_unique<pkfs::CFSManager>();
  manager_->RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  // Standard output carries the summary: the library's own lines ("Load ...
  // to Pkfs") stay off it; its warnings still reach standard error.
  manager_->SetOutputSink([](pkfs::OutputStream stream, const std::string& text) {
    if (stream == pkfs::OutputStream::kError) pkfs::WriteToStandardStreams(stream, text);
  });
  auto owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
  pkfs::CPKFSF* fileSystem = owned.get();
  // A set that another process holds is in use: say so rather than wait.
  fileSystem->SetLockTimeout(0);
  const bool loaded = manager_->SetFileSystem(path, std::move(owned));
  fileSystem_ = fileSystem;  // the manager owns it from here on
  if (!loaded || !fileSystem->lastFailure().ok()) {
    const Status& failure = fileSystem->lastFailure();
    const std::string reason = failure.ok() ? "cannot be loaded" : failure.ToString();
    return Status::Error(Status::Code::kCorrupt, path, "the pack set cannot be read: " + reason);
  }
  for (const auto& named : manager_->fileMap()) {
    const pkfs::FileHead* head = named.second;
    if (head == nullptr || head->owner == nullptr || head->size == 0) continue;
    entries_.push_back(Entry{named.first, head->size});
  }
  std::sort(entries_.begin(), entries_.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return Status::Ok();
}

PackSource::Reader::Reader(PackSource* source, const std::string& name)
    : source_(source), name_(name) {
  using platform::Status;
  std::lock_guard<std::mutex> guard(LibraryLock());
  const pkfs::FileHead* head =
      source->manager_ != nullptr ? source->manager_->FindName(name) : nullptr;
  if (head == nullptr || head->owner == nullptr) {
    opened_ = Status::Error(Status::Code::kNotFound, source->shownName_,
                            name + " is not stored in the set");
    return;
  }
  // Only the updater's own filter is known here; anything else would be
  // read back as its stored bytes.
  const bool inPlace = (head->flags & pkfs::kFlagInPlace) != 0;
  if ((head->flags & pkfs::kFlagResizing) != 0 ||
      (inPlace && source->manager_->FindInPlaceFilter(head->FilterId()) == nullptr)) {
    opened_ = Status::Error(Status::Code::kCorrupt, source->shownName_,
                            name + " is stored through filter " + std::to_string(head->FilterId()) +
                                ", which is not known");
    return;
  }
  handle_ = source->manager_->OpenByKey(name, "rb");
  if (handle_ == nullptr) {
    opened_ = Status::Error(Status::Code::kIoError, source->shownName_, name + " cannot be opened");
  }
}

PackSource::Reader::~Reader() {
  std::lock_guard<std::mutex> guard(LibraryLock());
  delete handle_;
}

platform::Status PackSource::Reader::Read(unsigned char* data, std::size_t length,
                                          std::size_t* got) {
  *got = 0;
  if (!opened_.ok()) return opened_;
  std::lock_guard<std::mutex> guard(LibraryLock());
  const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(length, 1u << 30));
  const int read = handle_->Read(data, piece);
  if (read < 0 || (read == 0 && !handle_->Eof())) {
    return platform::Status::Error(platform::Status::Code::kIoError, source_->shownName_,
                                   name_ + " cannot be read from its volume");
  }
  *got = static_cast<std::size_t>(read);
  return platform::Status::Ok();
}

}  // namespace mkupdate

// The mount of the pack file system at dialog start, and the store of one
// pack update file.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/file_system.h"
#include "update/pack_store.h"

namespace update {

namespace {

// MAROVETIN_LOCK_TIMEOUT: how many seconds the mount waits for a volume that
// another process holds (default 60; 0: not at all). A value that is not a
// whole number of seconds keeps the default.
int LockTimeoutFromEnvironment() {
  const char* text = std::getenv("MAROVETIN_LOCK_TIMEOUT");
  if (text == nullptr || *text == '\0') return pkfs::kDefaultLockTimeoutMilliseconds;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds < 0 || seconds > 24L * 3600) {
    return pkfs::kDefaultLockTimeoutMilliseconds;
  }
  return static_cast<int>(seconds * 1000);
}

class PkfsPackStore : public PackStore {
 public:
  explicit PkfsPackStore(platform::Env* env) : env_(env) {}

  void SetOutputSink(pkfs::OutputSink sink) override {
    pkfs::TheManager().SetOutputSink(std::move(sink));
  }

  void Mount(const std::string& packName) override {
    pkfs::CFSManager& manager = pkfs::TheManager();
    manager.SetEnv(env_);
    auto fileSystem = std::make_unique<pkfs::CPKFSF>(&manager);
    // The manager owns the file system from SetFileSystem on; keep a plain
    // pointer for the stores.
    fileSystem_ = fileSystem.get();
    // The filter must be in place before the first volume loads: the volume
    // header and directory are read through it.
    manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    fileSystem_->SetLockTimeout(LockTimeoutFromEnvironment());
    // A first volume that cannot be looked at counts as there: a new one
    // must never be made over it.
    platform::FileStamp before;
    const bool existed = !env_->StampFile(packName, &before).ok() || before.exists;
    if (!pkfs::SetFileSystem(packName, std::move(fileSystem))) {
      if (existed) {
        // A first volume that is there but does not load (a read error, a
        // damaged header) is never replaced by a new volume under the next
        // free name: nothing would link it, and what went into it would be
        // gone at the next start. Nothing is mounted; every pack update file
        // is kept back.
        const platform::Status& why = fileSystem_->lastFailure();
        std::fflush(stdout);  // the lines before it come first
        std::fprintf(stderr,
                     "marovetin: %s cannot be loaded (%s); pack update files are kept back\n",
                     packName.c_str(), why.ok() ? "unknown reason" : why.Reason().c_str());
        if (why.code() == platform::Status::Code::kBusy) blocked_ = why;
        mountFailure_ = why.ok() ? packName + ": cannot be loaded" : why.ToString();
        return;
      }
      if (!manager.CreateVolume(packName)) {
        // Nothing to store into: every pack update file is kept back with
        // the reason the volume could not be made.
        const platform::Status& why = fileSystem_->lastFailure();
        mountFailure_ = why.ok() ? packName + ": cannot be created" : why.ToString();
        return;
      }
    }
    // A set whose directory failed its checksum, or whose chain names a
    // volume that did not load, is never written: every pack update file is
    // kept back, with the reason.
    const platform::Status refusal = fileSystem_->WriteRefusal();
    if (!refusal.ok()) {
      std::fprintf(stderr, "marovetin: %s; pack update files are kept back\n",
                   refusal.ToString().c_str());
      if (refusal.code() == platform::Status::Code::kBusy) blocked_ = refusal;
      mountFailure_ = refusal.ToString();
      return;
    }
    if (!existed && env_->StampOf(packName).exists) createdVolume_ = packName;
    fileSystem_->AddNameRule("txt", 0);
    fileSystem_->AddNameRule("xml", 0);
  }

  bool AddFile(const std::string& name, unsigned char* data, std::uint32_t length) override {
    return fileSystem_ != nullptr && mountFailure_.empty() &&
           fileSystem_->AddFile(name, data, length);
  }

  bool AddFileFromSource(const std::string& name, std::uint64_t size,
                         const PieceSource& source) override {
    return fileSystem_ != nullptr && mountFailure_.empty() &&
           fileSystem_->AddFileFromSource(name, size, source);
  }

  std::uint64_t LargestFileSize() const override {
    return fileSystem_ != nullptr ? fileSystem_->LargestFileSize()
                                  : pkfs::LargestFileSizeUnder(pkfs::kDefaultVolumeSizeLimit);
  }

  platform::Status MountBlocked() const override { return blocked_; }

  std::string LastFailure() const override {
    if (!mountFailure_.empty()) return mountFailure_;
    if (fileSystem_ == nullptr || fileSystem_->lastFailure().ok()) return std::string();
    return fileSystem_->lastFailure().ToString();
  }

  bool IsVolume(const std::string& path) const override {
    return fileSystem_ != nullptr && fileSystem_->IsLoaded(path);
  }

  void BeginBatch() override {
    if (fileSystem_ != nullptr) fileSystem_->BeginBatch();
  }

  platform::Status CommitBatch() override {
    if (fileSystem_ == nullptr) {
      return platform::Status::Error(platform::Status::Code::kInvalid, "pack",
                                     "no pack file system is mounted");
    }
    return fileSystem_->CommitBatch();
  }

  void UndoMount() override {
    if (createdVolume_.empty() || fileSystem_ == nullptr) return;
    fileSystem_->Release();  // closes the volume's file before it goes
    env_->DeleteFile(createdVolume_);
    createdVolume_.clear();
  }

 private:
  platform::Env* env_;
  pkfs::CPKFSF* fileSystem_ = nullptr;
  std::string createdVolume_;  // the first volume, when this mount created it
  // why the first volume did not load (when it exists) or could not be made
  std::string mountFailure_;
  // the first volume stayed locked by another process
  platform::Status blocked_;
};

}  // namespace

std::unique_ptr<PackStore> MakePkfsPackStore(platform::Env* env) {
  return std::make_unique<PkfsPackStore>(env);
}

}  // namespace update

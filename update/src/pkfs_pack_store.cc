// The mount of the pack file system at dialog start, and the store of one
// pack update file.
#include <cstdio>
#include <memory>

#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/file_system.h"
#include "update/pack_store.h"

namespace update {

namespace {

class PkfsPackStore : public PackStore {
 public:
  void Mount(const std::string& packName) override {
    pkfs::CFSManager& manager = pkfs::TheManager();
    auto fileSystem = std::make_unique<pkfs::CPKFSF>(&manager);
    // The manager owns the file system from SetFileSystem on; keep a plain
    // pointer for the stores.
    fileSystem_ = fileSystem.get();
    // The filter must be in place before the first volume loads: the volume
    // header and directory are read through it.
    manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    const bool existed = platform::PathExists(packName);
    if (!pkfs::SetFileSystem(packName, std::move(fileSystem))) {
      if (existed) {
        // A first volume that is there but does not load (a read error, a
        // damaged header) is never replaced by a new volume under the next
        // free name: nothing would link it, and what went into it would be
        // gone at the next start. Nothing is mounted; every pack update file
        // is kept back.
        std::fprintf(stderr, "marovetin: %s cannot be loaded; pack update files are kept back\n",
                     packName.c_str());
        return;
      }
      manager.CreateVolume(packName);
    }
    if (!existed && platform::PathExists(packName)) createdVolume_ = packName;
    fileSystem_->AddNameRule("txt", 0);
    fileSystem_->AddNameRule("xml", 0);
  }

  bool AddFile(const std::string& name, unsigned char* data, std::uint32_t length) override {
    return fileSystem_ != nullptr && fileSystem_->AddFile(name, data, length);
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
    platform::DeleteFile(createdVolume_);
    createdVolume_.clear();
  }

 private:
  pkfs::CPKFSF* fileSystem_ = nullptr;
  std::string createdVolume_;  // the first volume, when this mount created it
};

}  // namespace

std::unique_ptr<PackStore> MakePkfsPackStore() { return std::make_unique<PkfsPackStore>(); }

}  // namespace update

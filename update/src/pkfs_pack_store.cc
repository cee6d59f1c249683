// The mount of the pack file system at dialog start, and the store of one
// pack update file.
#include <memory>

#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
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
    if (!pkfs::SetFileSystem(packName, std::move(fileSystem))) manager.CreateVolume(packName);
    fileSystem_->AddNameRule("txt", 0);
    fileSystem_->AddNameRule("xml", 0);
  }

  bool AddFile(const std::string& name, unsigned char* data, std::uint32_t length) override {
    return fileSystem_ != nullptr && fileSystem_->AddFile(name, data, length);
  }

 private:
  pkfs::CPKFSF* fileSystem_ = nullptr;
};

}  // namespace

std::unique_ptr<PackStore> MakePkfsPackStore() { return std::make_unique<PkfsPackStore>(); }

}  // namespace update

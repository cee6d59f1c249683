// The pack file system: serves names from a chain of pack volumes.
#ifndef PKFS_PKFSF_H_
#define PKFS_PKFSF_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/fs.h"
#include "pkfs/name_rule.h"
#include "pkfs/pack_archive.h"

namespace pkfs {

constexpr std::uint32_t kDefaultVolumeSizeLimit = 0x60000000;

class CPKFSF : public CFS {
 public:
  explicit CPKFSF(CFSManager* manager);
  ~CPKFSF() override;

  void OnFileOpened(CFSFile* handle) override;  // "UpdateFileHandle"
  void Release() override;
  bool CloseFile(CFSFile* handle) override;
  bool CreateVolume(const std::string& name) override;
  bool Load(const std::string& name) override;
  void Command(const std::string& name, std::string& text) override;
  int RawRead(void* buffer, std::uint32_t length, CFSFile* handle) override;
  bool RemoveFile(const std::string& name) override;
  int RawWrite(const void* buffer, std::uint32_t length, CFSFile* handle) override;  // "OnWriteBuffer"

  // Takes ownership of a loaded volume (called by LoadFromFile).
  void AppendArchive(PackArchive* volume);
  bool IsLoaded(const std::string& volumeName) const;

  // Normalises name and stores data in the set, replacing any copy. data may
  // be filtered in place. False when no volume is loaded or the store failed.
  bool AddFile(const std::string& name, unsigned char* data, std::uint32_t length);

  void AddNameRule(const std::string& pattern, std::uint16_t id) { rules_.AddNameRule(pattern, id); }
  bool MatchInPlaceRule(const std::string& name, std::uint16_t* id) const {
    return rules_.MatchInPlaceRule(name, id);
  }
  bool MatchResizingRule(const std::string& name, std::uint16_t* id) const {
    return rules_.MatchResizingRule(name, id);
  }

  std::uint32_t sizeLimit() const { return sizeLimit_; }
  void SetSizeLimitForTesting(std::uint32_t limit) { sizeLimit_ = limit; }
  const std::string& volumePattern() const { return volumePattern_; }
  const std::vector<std::unique_ptr<PackArchive>>& archives() const { return archives_; }
  PackArchive* primary() const { return archives_.empty() ? nullptr : archives_.front().get(); }

 private:
  std::uint32_t sizeLimit_ = kDefaultVolumeSizeLimit;
  std::string volumePattern_ = "Data%d.pak";
  std::vector<std::unique_ptr<PackArchive>> archives_;
  NameRuleList rules_;
};

}  // namespace pkfs

#endif  // PKFS_PKFSF_H_

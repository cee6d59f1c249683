// One open pack volume: its header words, its file heads, its free space and
// the positioned reads and writes on its file.
#ifndef PKFS_PACK_ARCHIVE_H_
#define PKFS_PACK_ARCHIVE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pkfs/file_head.h"
#include "pkfs/leak_list.h"
#include "pkfs/pack_format.h"
#include "platform/random_access_file.h"

namespace pkfs {

class CPKFSF;
class CFSManager;

class PackArchive {
 public:
  PackArchive(std::unique_ptr<platform::RandomAccessFile> stream, const PackHeader& header,
              CPKFSF* fileSystem);
  // Close: removes every head's name from the manager's map, closes the file.
  virtual ~PackArchive();
  PackArchive(const PackArchive&) = delete;
  PackArchive& operator=(const PackArchive&) = delete;

  // Stores name in this volume or, when it has no room, in the next one
  // (created at the end of the chain when needed). With delegated false the
  // name is first removed from the whole set. data may be filtered in place.
  // True when some volume of the chain stored the file.
  virtual bool AddFileFromBuffer(const std::string& name, unsigned char* data,
                                 std::uint32_t size, bool delegated);

  // Reads the directory, registers the heads, loads the next volume. True only
  // when a next volume was loaded. False with nothing registered when the
  // directory is malformed (see LoadFromFile).
  bool Init();

  // Positioned transfers under the volume lock. ReadBuffer reads exactly
  // length bytes or reports false (missing bytes are zeroed). WriteBuffer
  // retries a short write a bounded number of times and reports failure.
  bool ReadBuffer(void* data, std::uint32_t position, std::uint32_t length);
  bool WriteBuffer(const void* data, std::uint32_t position, std::uint32_t length);

  // Rewrites the directory and then the header. The old directory and every
  // region the header on disk names stay untouched until the header is
  // written. False when a write failed (the header is then not written).
  bool UpdateFileHeadData();
  bool LinkNextVolume(PackArchive* next);

  // Free space (leak_list.h over this volume's header, table and heads).
  void BuildLeak();
  void NormalizeLeakList();
  bool FindLeakData(std::uint32_t size, std::uint32_t* start) const;
  void ClaimRegion(std::uint32_t start, std::uint32_t size);
  bool ReleaseRegion(std::uint32_t start, std::uint32_t length);

  FileHead* FindHead(const std::string& name) const;
  // Removes name from this volume only; true when it held the name.
  bool RemoveHead(const std::string& name);

  const std::string& name() const { return name_; }
  void set_name(const std::string& name) { name_ = name; }
  PackArchive* next() const { return next_; }
  void set_next(PackArchive* next) { next_ = next; }
  CPKFSF* fileSystem() const { return fileSystem_; }
  CFSManager* manager() const;
  const std::vector<std::unique_ptr<FileHead>>& heads() const { return heads_; }
  const LeakList& leakList() const { return leakList_; }
  const PackTrailer* trailer() const { return trailer_.get(); }
  std::uint32_t tableOffset() const { return tableOffset_; }
  std::uint32_t tableSize() const { return tableSize_; }
  std::uint32_t headCount() const { return headCount_; }
  platform::RandomAccessFile* stream() const { return stream_.get(); }

 private:
  std::vector<std::unique_ptr<FileHead>> heads_;
  std::map<std::string, FileHead*> nameMap_;
  PackArchive* next_ = nullptr;
  std::unique_ptr<PackTrailer> trailer_;
  CPKFSF* fileSystem_;
  unsigned char magic_[4];
  std::uint32_t tableOffset_;
  std::uint32_t tableSize_;
  std::uint32_t headCount_;
  std::string name_;
  std::unique_ptr<platform::RandomAccessFile> stream_;
  LeakList leakList_;
  std::mutex lock_;
};

// Opens name ("rb+"), checks the decoded header for "PACK", appends the
// volume to fileSystem's archives and runs Init. Null when the file does not
// open, is not a pack volume, or its directory breaks the format (a record,
// name or trailer past the table, a data region past the file, overlapping
// regions). A chain stops at a name already loaded.
PackArchive* LoadFromFile(const std::string& name, CPKFSF* fileSystem);

// Text command handlers, and their dispatch on the first volume of a set.
bool OnAddFile(PackArchive* volume, const char* path);
bool OnRemoveFile(PackArchive* volume, const char* name);
bool Publish(PackArchive* volume, const std::string& command, const char* argument);

}  // namespace pkfs

#endif  // PKFS_PACK_ARCHIVE_H_

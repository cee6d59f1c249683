// One open pack volume: its header words, its file heads, its free space and
// the positioned reads and writes on its file.
//
// Crash safety of the directory: the table and every file region that the
// header on disk names stay untouched until a new header is written. New data
// and a new table only go to places that the in-memory free-space list shows
// as free while everything the header on disk still names counts as used;
// regions of removed or replaced files and of the old table are given back
// only after the header that no longer names them is on disk.
#ifndef PKFS_PACK_ARCHIVE_H_
#define PKFS_PACK_ARCHIVE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "leak_list.h"
#include "pack_format.h"
#include "pkfs/file_head.h"
#include "platform/random_access_file.h"

namespace pkfs {

class CPKFSF;
class CFSManager;
class ScopeTimer;

class PackArchive {
 public:
  // What a removal from one volume came to.
  enum class RemoveOutcome { kAbsent, kRemoved, kFailed };

  PackArchive(std::unique_ptr<platform::RandomAccessFile> stream, const PackHeader& header,
              CPKFSF* fileSystem);
  // Close: removes every head's name from the manager's map (where the map
  // still points at it), closes the file and so gives up its lock.
  virtual ~PackArchive();
  PackArchive(const PackArchive&) = delete;
  PackArchive& operator=(const PackArchive&) = delete;

  // Stores name in this volume or, when it has no room, in the next one
  // (created at the end of the chain when needed). A copy of name in the
  // volume that stores it is replaced in the same directory write; with
  // delegated false every other copy in the set is removed afterwards. data
  // may be filtered in place. True when some volume of the chain stored the
  // file (and, with delegated false, no other copy is left behind).
  virtual bool AddFileFromBuffer(const std::string& name, unsigned char* data, std::uint32_t size,
                                 bool delegated);

  // Reads and checks the directory (header words already set): every record,
  // the trailer and every data region must lie inside the table and the file,
  // and no two regions may overlap. False, with nothing kept, otherwise.
  bool ReadDirectory();
  // Registers the heads with the manager and loads the next volume. True only
  // when a next volume was loaded.
  bool Init();

  // Positioned transfers under the volume lock. ReadBuffer reads exactly
  // length bytes or reports false (missing bytes are zeroed). WriteBuffer
  // retries a short write a bounded number of times and reports failure.
  bool ReadBuffer(void* data, std::uint32_t position, std::uint32_t length);
  bool WriteBuffer(const void* data, std::uint32_t position, std::uint32_t length);

  // Writes the directory to a free place and then the header. False when a
  // write failed: the header is then not written (after a failed table write)
  // and the in-memory header words and free-space list stay as they were.
  bool UpdateFileHeadData();
  bool LinkNextVolume(PackArchive* next);

  // Free space (leak_list.h over this volume's header, table and heads).
  // BuildLeak also registers every head with the manager, in heads order.
  void BuildLeak();
  void NormalizeLeakList();
  bool FindLeakData(std::uint32_t size, std::uint32_t* start) const;
  void ClaimRegion(std::uint32_t start, std::uint32_t size);
  bool ReleaseRegion(std::uint32_t start, std::uint32_t length);
  // The list as BuildLeak would build it from the header words and heads.
  LeakList ComputeLeakList() const;

  FileHead* FindHead(const std::string& name) const;
  // Removes name from this volume only.
  RemoveOutcome RemoveStoredFile(const std::string& name);
  // Empties an entry opened for writing; its old region stays used until the
  // next directory write no longer names it.
  void TruncateHead(FileHead* head);

  // The name the previous volume's trailer stores (for the first volume, the
  // name it was opened by); path() is where the file is, which differs for a
  // later volume of a set opened through a directory.
  const std::string& name() const { return name_; }
  void set_name(const std::string& name) { name_ = name; }
  const std::string& path() const { return stream_ != nullptr ? stream_->path() : name_; }
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
  // A head taken out of heads while a directory write is pending, with its
  // place so that a failed write can put it back.
  using DetachedHead = std::pair<std::size_t, std::unique_ptr<FileHead>>;

  bool StoreHere(const std::string& name, unsigned char* data, std::uint32_t size,
                 std::uint32_t start, ScopeTimer* timer);
  std::vector<DetachedHead> DetachHeads(const std::string& name);
  void ReattachHeads(std::vector<DetachedHead> detached);
  // After the directory that no longer names them is on disk.
  void DisposeHeads(std::vector<DetachedHead> detached);
  void ForgetName(FileHead* head);
  void AppendRecord(const FileHead& head);
  void RebuildRecords();
  void RebuildLeakList();
  bool RegionsAreSound(std::uint64_t fileSize) const;

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
  bool leakListStale_ = false;  // a head shrank in memory: rebuild after the next write
  // The heads' records as the next directory write stores them, and their
  // byte sum: an add appends one record instead of serialising every head
  // again. Rebuilt when heads are taken out or change in place.
  std::vector<unsigned char> records_;
  std::uint32_t recordSum_ = 0;
  bool recordsValid_ = false;
  // Heads that were replaced or removed while an open handle still pointed at
  // them; kept (emptied) so that such a handle reads nothing instead of freed
  // memory.
  std::vector<std::unique_ptr<FileHead>> retiredHeads_;
  std::mutex lock_;
};

// Opens name ("rb+") under an exclusive lock (waiting, with one line on
// standard error, while another process holds it), checks the decoded header
// for "PACK", reads and checks the directory, appends the volume to
// fileSystem's archives and runs Init. Null when the file does not open, is
// not a pack volume, or its directory breaks the format; nothing is then
// registered. A chain stops at a volume already loaded.
PackArchive* LoadFromFile(const std::string& name, CPKFSF* fileSystem);
// The same for a volume whose file is at path but whose name (what a trailer
// stores) is name.
PackArchive* LoadFromFile(const std::string& name, CPKFSF* fileSystem, const std::string& path);

// Where a volume named name lies when it belongs to the set of the volume at
// volumePath: in the same directory. A name with a directory of its own
// (absolute, or with a drive) is taken as it stands.
std::string PathBeside(const std::string& volumePath, const std::string& name);

// Text command handlers, and their dispatch on the first volume of a set.
bool OnAddFile(PackArchive* volume, const char* path);
bool OnRemoveFile(PackArchive* volume, const char* name);
bool Publish(PackArchive* volume, const std::string& command, const char* argument);

}  // namespace pkfs

#endif  // PKFS_PACK_ARCHIVE_H_

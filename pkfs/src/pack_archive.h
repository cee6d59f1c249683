// One open pack volume: its header words, its file heads, its free space and
// the positioned reads and writes on its file.
//
// Changes are made in batches (see CPKFSF::BeginBatch). Within one, data go
// at once into places that are free both in memory and in the directory on
// disk: everything that directory names, the old table and replaced or
// removed files included, stays used until the commit. Only the in-memory
// table changes. The commit syncs the data, writes the new table to a free
// place and syncs it (the directory prepared aside), writes the header that
// installs it and syncs, and only then gives back what the directory on disk
// no longer names. Until the header is durable, the directory on disk, and
// every region it names, is untouched.
#ifndef PKFS_PACK_ARCHIVE_H_
#define PKFS_PACK_ARCHIVE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "leak_list.h"
#include "pkfs/pack_format.h"
#include "pkfs/file_head.h"
#include "pkfs/name_index.h"
#include "pkfs/output_sink.h"
#include "pkfs/pack_volume.h"
#include "pkfs/pkfsf.h"
#include "pkfs/volume_writer.h"
#include "unbuilt_directory.h"
#include "platform/random_access_file.h"
#include "platform/status.h"

namespace pkfs {

class CFSFilter;
class CFSManager;
class ScopeTimer;

// "NAME: too large for a pack volume (N bytes; a volume holds at most M)".
platform::Status TooLargeForVolume(const std::string& name, std::uint64_t size,
                                   std::uint32_t sizeLimit);

class PackArchive : public PackVolume {
 public:
  // What a removal from one volume came to.
  enum class RemoveOutcome { kAbsent, kRemoved, kFailed };

  PackArchive(std::unique_ptr<platform::RandomAccessFile> stream, const PackHeader& header,
              CPKFSF* fileSystem);
  // Close: removes every head's name from the manager's map (where the map
  // still points at it), closes the file and so gives up its lock.
  ~PackArchive() override;
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
  // The same for size bytes that source delivers in order: the region is
  // reserved from size and filled piece by piece, so that memory does not
  // follow the file's size.
  using PieceSource = CPKFSF::PieceSource;
  bool AddFileFromSource(const std::string& name, std::uint32_t size, const PieceSource& source,
                         bool delegated);

  // Reads and checks the directory (header words already set): every record,
  // the trailer and every data region must lie inside the table and the file,
  // and no two regions may overlap. Otherwise, with nothing kept, why not.
  platform::Status ReadDirectory();
  // The trailer's checksum did not match the records read (not a refusal).
  bool checksumMismatch() const override { return checksumMismatch_; }
  // Registers the heads with the manager and loads the next volume. True only
  // when a next volume was loaded.
  bool Init();

  // A volume of a set opened for reading keeps the directory it read and
  // builds no head at load: one look-up by name reads the records in place
  // and builds only the head it finds, so that a command that wants one file
  // does not pay for a head per entry. Whatever wants every head (heads(),
  // the manager's whole map, a change) builds them all first, in the set's
  // order, and registers them with the manager as a load does.
  bool headsPending() const { return unbuilt_.kept(); }
  // The head of the last record called name that a pending directory holds,
  // as the manager's map would resolve it; null when none (or nothing is
  // pending).
  FileHead* FindPendingHead(const std::string& name);
  // Builds every head of a pending directory and registers them with the
  // manager, those looked up already among them (they stay where they are).
  void BuildPendingHeads();

  // Positioned transfers under the volume lock. ReadBuffer reads exactly
  // length bytes or reports false (missing bytes are zeroed). WriteBuffer
  // retries a short write a bounded number of times and reports failure;
  // WriteBlock does the same and says why.
  bool ReadBuffer(void* data, std::uint32_t position, std::uint32_t length) override;
  bool WriteBuffer(const void* data, std::uint32_t position, std::uint32_t length);
  platform::Status WriteBlock(const void* data, std::uint32_t position, std::uint32_t length);

  // Commits this volume's pending changes on its own (a batch of one
  // volume). False when the commit failed; disk and memory are then as before.
  bool UpdateFileHeadData();
  // Makes next the following volume; its trailer names it from the next
  // commit on (at once outside a batch).
  bool LinkNextVolume(PackArchive* next);

  // ---- Batches (pack_archive_batch.cc) ----
  // Records the state the directory on disk names before the first change of
  // a batch; every in-memory change calls it first.
  void Touch();
  // True when the volume has changes that no commit has made durable yet.
  bool changed() const { return base_ != nullptr; }
  // Marks the volume as created in the current batch: a failed commit deletes it.
  void MarkCreated();
  bool created() const { return base_ != nullptr && base_->created; }
  // The records, as the directory on disk holds them, of heads taken out in
  // this batch whose names now live in an earlier volume of the chain, or
  // that an earlier volume also takes out: their removal waits until that
  // volume's commit is durable. A head emptied for a
  // rewrite keeps its size on disk here, not its empty one in memory.
  std::vector<FileHead> DeferredRemovals() const;
  // Whether the directory with deferred (still named) removals differs from
  // the one on disk.
  bool NeedsWrite(std::size_t deferred) const;
  // Adds the names whose copies this batch takes out of the volume.
  void NamesTakenOut(std::unordered_set<std::string>* names) const;
  // A directory written aside: its table is durable where nothing on disk
  // points, and not in force until a header names it.
  struct PreparedDirectory {
    std::uint32_t tableOffset = 0;
    std::uint32_t tableSize = 0;
    std::uint32_t headCount = 0;
    PackTrailer trailer;  // as the table ends: the next volume, the checksum
  };
  // Builds the table naming the in-memory heads plus keep, places it where
  // neither memory nor the directory on disk uses anything, and writes it;
  // then syncs the data and the table. Neither the header on disk nor the
  // header words and trailer in memory change: a failure here leaves the
  // directory as it was, but for the place it claimed for the table.
  platform::Status PrepareDirectory(const std::vector<FileHead>& keep,
                                    PreparedDirectory* prepared);
  // Puts a prepared directory in force: writes and syncs the header that
  // names it. Nothing is given back yet (see FinishBatch).
  platform::Status InstallDirectory(const PreparedDirectory& prepared);
  // After a failed commit that had installed a directory here: the header
  // names the table from before the batch again (that table and its regions
  // were never touched), synced.
  platform::Status RevertHeader();
  // The commit is durable: gives back the old tables, replaced and removed
  // regions, and forgets the batch.
  void FinishBatch();
  // The commit failed: heads, header words, trailer, link and free space are
  // as before the batch; heads stored in it are dropped. The caller
  // registers the names again.
  void AbandonBatch();
  // Commits this volume alone: PrepareDirectory and InstallDirectory, then
  // FinishBatch, or after a failure RevertHeader and AbandonBatch.
  platform::Status CommitBatch();

  // Free space (leak_list.h over this volume's header, table and heads).
  // BuildLeak also registers every head with the manager, in heads order.
  void BuildLeak();
  void NormalizeLeakList();
  bool FindLeakData(std::uint32_t size, std::uint32_t* start) const;
  void ClaimRegion(std::uint32_t start, std::uint32_t size);
  bool ReleaseRegion(std::uint32_t start, std::uint32_t length);
  // The list as BuildLeak would build it from the header words and heads;
  // inside a batch, with what the directory on disk still names kept used.
  LeakList ComputeLeakList() const;

  FileHead* FindHead(const std::string& name) const;
  // Removes name from this volume only (at the commit of the batch it runs in).
  RemoveOutcome RemoveStoredFile(const std::string& name);
  // Empties an entry opened for writing; its old region stays used until the
  // next commit no longer names it.
  void TruncateHead(FileHead* head);

  // The name the previous volume's trailer stores (for the first volume, the
  // name it was opened by); path() is where the file is, which differs for a
  // later volume of a set opened through a directory.
  const std::string& name() const override { return name_; }
  void set_name(const std::string& name) { name_ = name; }
  const std::string& path() const override {
    return stream_ != nullptr ? stream_->path() : name_;
  }
  PackArchive* next() const { return next_; }
  void set_next(PackArchive* next) { next_ = next; }
  CPKFSF* fileSystem() const { return fileSystem_; }
  CFSManager* manager() const;
  // Every head, in directory order (a volume of a set opened for reading
  // builds them first; see BuildPendingHeads).
  const std::vector<HeadPtr>& heads() const override;
  const LeakList& leakList() const { return leakList_; }
  const PackTrailer* trailer() const override { return trailer_.get(); }
  std::uint32_t tableOffset() const override { return tableOffset_; }
  std::uint32_t tableSize() const override { return tableSize_; }
  std::uint32_t headCount() const override { return headCount_; }
  platform::RandomAccessFile* stream() const override { return stream_.get(); }

 private:
  // A head taken out of heads, with its place.
  using DetachedHead = std::pair<std::size_t, HeadPtr>;

  // What the directory on disk names while a batch changes the volume, and
  // what the batch must give back or put back.
  struct BatchBase {
    std::vector<std::pair<FileHead*, std::uint32_t>> heads;  // order and sizes on disk
    std::uint32_t tableOffset = 0;
    std::uint32_t tableSize = 0;
    std::uint32_t headCount = 0;
    PackArchive* next = nullptr;
    bool hadTrailer = false;
    PackTrailer trailer;
    std::vector<HeadPtr> removed;               // named on disk, taken out in memory
    std::unordered_set<const FileHead*> added;  // stored in this batch
    // Regions to give back once the commit is durable: tables written before
    // the last one, and the old extent of emptied entries.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> release;
    bool truncated = false;
    bool headerWritten = false;  // a header write was tried in this batch
    bool created = false;
  };

  LeakList ComputeLeakListInBatch() const;
  // Writes an entry's bytes at start in volume (the one with room for them),
  // through the filters its name selects.
  using DataWriter = std::function<platform::Status(PackArchive* volume, std::uint32_t start,
                                                    CFSFilter* resizing, CFSFilter* inPlace)>;
  bool AddFileWith(const std::string& name, std::uint32_t size, bool delegated,
                   const DataWriter& write, ScopeTimer* timer);
  bool StoreHere(const std::string& name, std::uint32_t size, std::uint32_t start,
                 const DataWriter& write, ScopeTimer* timer);
  platform::Status WritePieces(const std::string& name, std::uint32_t start, std::uint32_t size,
                               const PieceSource& source, CFSFilter* resizing, CFSFilter* inPlace);
  std::vector<DetachedHead> DetachHeads(const std::string& name);
  // Takes every head called name out of the in-memory table: one stored in
  // this batch goes at once, one the disk names waits for the commit.
  bool TakeOut(const std::string& name);
  // Drops a head that nothing on disk names any more: its name, its region,
  // and its memory unless an open handle still points at it.
  void DisposeHead(HeadPtr head);
  void ForgetName(FileHead* head);
  // The table as a commit writes it: the heads' records, keep's, and the
  // trailer, which is made in *trailer (nothing of the volume changes).
  std::vector<unsigned char> BuildTable(const std::vector<FileHead>& keep, PackTrailer* trailer);
  platform::Status WriteHeader(std::uint32_t tableOffset, std::uint32_t tableSize,
                               std::uint32_t headCount);
  // The records of every head, built again when they were dropped.
  const DirectoryWriter& Records();
  void RebuildLeakList();
  // Header, table and every region forEachRegion(take) hands to take, as
  // (start, size), lie inside the file (and below 4 GiB) and apart.
  template <typename ForEachRegion>
  bool RegionsAreSound(std::uint64_t fileSize, const ForEachRegion& forEachRegion) const;

  // The heads the directory held at load (see HeadPtr); declared first, so
  // that it goes after everything that may point into it.
  std::unique_ptr<FileHead[]> loadedHeads_;
  std::vector<HeadPtr> heads_;
  // The first head of each name in heads_; built at the first look-up by
  // name, which a command that only reads through the manager never makes.
  NameIndex& Names() const;
  mutable NameIndex nameMap_;
  mutable bool namesBuilt_ = false;
  // The directory as read while its heads are pending (see headsPending).
  UnbuiltDirectory unbuilt_;
  PackArchive* next_ = nullptr;
  std::unique_ptr<PackTrailer> trailer_;
  CPKFSF* fileSystem_;
  unsigned char magic_[4];
  std::uint32_t tableOffset_;
  std::uint32_t tableSize_;
  std::uint32_t headCount_;
  std::string name_;
  std::unique_ptr<platform::RandomAccessFile> stream_;
  // Bytes written since the stream last started writing back (under lock_).
  static constexpr std::uint64_t kWritebackBytes = std::uint64_t{4} << 20;
  std::uint64_t unsubmittedBytes_ = 0;
  LeakList leakList_;
  std::unique_ptr<BatchBase> base_;  // null while nothing is pending
  bool checksumMismatch_ = false;
  // The heads' records as the next directory write stores them: an add
  // appends one record instead of serialising every head again. Dropped when
  // heads are taken out or change in place, and built again when needed.
  std::unique_ptr<DirectoryWriter> records_;
  // Heads that were replaced or removed while an open handle still pointed at
  // them; kept (emptied) so that such a handle reads nothing instead of freed
  // memory.
  std::vector<HeadPtr> retiredHeads_;
  std::mutex lock_;
};

// Opens name ("rb+") under an exclusive lock (waiting, with one line to the
// manager's error output, while another process holds it), checks the decoded header
// for "PACK", reads and checks the directory, appends the volume to
// fileSystem's archives and runs Init. Null when the file does not open, is
// not a pack volume, or its directory breaks the format; nothing is then
// registered. A chain stops at a volume already loaded.
PackArchive* LoadFromFile(const std::string& name, CPKFSF* fileSystem);
// The same for a volume whose file is at path but whose name (what a trailer
// stores) is name.
PackArchive* LoadFromFile(const std::string& name, CPKFSF* fileSystem, const std::string& path);


// Hands text to manager's output sink; without a manager, to the standard
// streams.
void LibraryOutput(const CFSManager* manager, OutputStream stream, const std::string& text);

// Text command handlers, and their dispatch on the first volume of a set.
bool OnAddFile(PackArchive* volume, const char* path);
bool OnRemoveFile(PackArchive* volume, const char* name);
bool Publish(PackArchive* volume, const std::string& command, const char* argument);

}  // namespace pkfs

#endif  // PKFS_PACK_ARCHIVE_H_

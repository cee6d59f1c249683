// The pack file system: serves names from a chain of pack volumes.
#ifndef PKFS_PKFSF_H_
#define PKFS_PKFSF_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/fs.h"
#include "platform/status.h"

namespace pkfs {

class NameRuleList;
class PackArchive;
class PackVolume;

constexpr std::uint32_t kDefaultVolumeSizeLimit = 0x60000000;
// How long a load waits for a volume that another process holds.
constexpr int kDefaultLockTimeoutMilliseconds = 60 * 1000;

// The most bytes one file may have in volumes of sizeLimit bytes: what an
// empty volume holds.
std::uint64_t LargestFileSizeUnder(std::uint32_t sizeLimit);

class CPKFSF : public CFS {
 public:
  explicit CPKFSF(CFSManager* manager);
  ~CPKFSF() override;

  // "UpdateFileHandle": a handle opened with the write bit empties its
  // entry (in memory; the next directory write stores the size).
  void OnFileOpened(CFSFile* handle) override;
  // Destroys every volume; handles still open on their files are left with
  // no entry, so they read nothing and write nothing.
  void Release() override;
  bool CloseFile(CFSFile* handle) override;
  // Creates the next "Data%d.pak" (beside the first volume) or name as an
  // empty volume, written under a scratch name, synced and renamed into
  // place with its directory synced, loads it and links it behind the last
  // volume (the link is written by the commit). False when
  // it could not be created, loaded or linked; the last failure names the
  // volume and the step: "Data1.pak: cannot be created: No space left on
  // device", or for the link "DATA.pak: cannot chain Data1.pak behind it:
  // ...".
  bool CreateVolume(const std::string& name) override;
  // Loads the set whose first volume is name, and removes the scratch files
  // that a run stopped while making a volume left beside it.
  bool Load(const std::string& name) override;
  void Command(const std::string& name, std::string& text) override;
  // A set opened for reading (SetReadOnly) keeps its volumes' directories as
  // read and looks names up in them, the latest volume first.
  bool NamesPending() const override;
  FileHead* FindPendingName(const std::string& key) override;
  void BuildPendingNames() override;
  int RawRead(void* buffer, std::uint32_t length, CFSFile* handle) override;
  // Removes name from the whole set; false only when a removal could not be
  // written (the last failure then says why). A name that no volume holds
  // is no failure of the call, but the last failure names it as not stored.
  bool RemoveFile(const std::string& name) override;
  // "OnWriteBuffer": stores the entry's whole content anew with buffer
  // written at the handle's position (or appended), replacing the old copy in
  // one directory write; the handle then points at the new head, positioned
  // at its end, with its window emptied. length, or 0 when it was not stored.
  int RawWrite(const void* buffer, std::uint32_t length, CFSFile* handle) override;

  // True when some loaded volume holds name (a normalised key).
  bool HoldsName(const std::string& name) const;
  // Records that name is not stored in the set, naming the first volume.
  void NoteMissing(const std::string& name);

  // Takes ownership of a loaded volume (called by LoadFromFile).
  void AppendArchive(PackArchive* volume);
  // True when volume is one of this set's loaded volumes.
  bool Holds(const PackArchive* volume) const;
  // True when a loaded volume's file is at volumePath, under that spelling
  // or another.
  bool IsLoaded(const std::string& volumePath) const;

  // Normalises name and stores data in the set, replacing any copy. data may
  // be filtered in place. False when no volume is loaded or the store failed.
  bool AddFile(const std::string& name, unsigned char* data, std::uint32_t length);

  // Fills buffer with the next length bytes of a file being stored; false
  // when they cannot be had.
  using PieceSource = std::function<bool(unsigned char* buffer, std::uint32_t length)>;

  // Stores the size bytes that source delivers, in order, under name (as
  // AddFile does), writing them into the reserved region a piece of 1 MiB at
  // a time: memory does not follow the file's size. A file larger than
  // LargestFileSize() is refused before anything is read or written ("NAME:
  // too large for a pack volume (N bytes; a volume holds at most M)"), and so
  // is one whose source fails (nothing is then stored).
  bool AddFileFromSource(const std::string& name, std::uint64_t size, const PieceSource& source);

  // The most bytes one file may have: what an empty volume holds.
  std::uint64_t LargestFileSize() const;

  // Removes name from every volume of the chain that starts at the primary
  // volume, except the head keep (at the commit of the batch).
  bool RemoveCopies(const std::string& name, const FileHead* keep);

  // A batch: any number of adds, replaces, removals and handle writes between
  // BeginBatch and CommitBatch are made durable together. Until the commit
  // only data are written, to places that neither memory nor the directory
  // on disk uses; every volume's directory on disk stays as it was. The
  // commit writes every changed volume's new table aside and syncs it with
  // the data before it writes any header; then it installs the tables by
  // their headers (each synced), and only then frees the old tables and the
  // replaced regions. A table that cannot be written thus leaves every header
  // as it was. A new volume is complete before the trailer that links
  // it is written; an old copy of a name that moved to another volume is
  // dropped only after the copy that replaces it is durable. A failed commit
  // leaves the set on disk as before the batch, the in-memory state with it,
  // and says why. An operation outside a batch is a batch of its own.
  void BeginBatch();
  platform::Status CommitBatch();
  // Ends the open batch without committing it: nothing of it reaches the
  // directories on disk (a volume it created is deleted), and memory returns
  // to the set as the disk has it.
  void AbandonBatch();
  bool inBatch() const { return inBatch_; }

  // Name rules: names matching pattern are stored through filter id.
  void AddNameRule(const std::string& pattern, std::uint16_t id);
  bool MatchInPlaceRule(const std::string& name, std::uint16_t* id) const;
  bool MatchResizingRule(const std::string& name, std::uint16_t* id) const;

  // Read only (set before the first volume loads): volumes are opened
  // without write access and without the lock that writers hold for as long
  // as they have the set open, so a reader never waits for a writer. What a
  // reader loads while a writer commits may mix two states: a reader that
  // must not see that checks each volume's header again afterwards (the
  // commit point of a volume) and loads anew when it moved.
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool readOnly() const { return readOnly_; }
  // OK when the set may be changed; otherwise why not: it was loaded read
  // only, or a volume's directory did not match its checksum at load, or a
  // volume that a trailer names is there but did not load (unreadable, held
  // by another process, damaged; a missing one holds nothing and is
  // skipped). A directory that fails its checksum may name wrong places or
  // wrong names; writing it anew (with a fresh checksum) would spread the
  // damage and hide it. Behind a volume that did not load,
  // the chain holds copies that this process cannot see: a file stored now
  // would be shadowed by its old copy there as soon as that volume loads
  // again. So every add, removal, new volume and commit is refused instead,
  // and noted as the last failure.
  platform::Status WriteRefusal() const;
  // Records that the volume a trailer names did not load, and why.
  void NoteUnloadedVolume(const platform::Status& why);
  // Notes the refusal and returns true when the set may not be changed.
  bool RefuseWrite();

  // How long loading a volume waits while another process holds it (0: not
  // at all; negative: without end). The load then fails, naming the volume.
  int lockTimeout() const { return lockTimeout_; }
  void SetLockTimeout(int milliseconds) { lockTimeout_ = milliseconds; }

  // The last failure of a load, store, removal, volume creation, commit or
  // read, and why ("DATA.pak: No space left on device"); "CFSGetLastError"
  // returns its text. A load, an add and a volume creation start with it
  // cleared.
  const platform::Status& lastFailure() const { return lastFailure_; }
  void NoteFailure(const platform::Status& status) {
    lastFailure_ = status;
    lastError_ = status.ok() ? std::string() : status.ToString();
  }

  std::uint32_t sizeLimit() const { return sizeLimit_; }
  void SetSizeLimitForTesting(std::uint32_t limit) { sizeLimit_ = limit; }
  const std::string& volumePattern() const { return volumePattern_; }
  const std::vector<std::unique_ptr<PackArchive>>& archives() const { return archives_; }
  // The volumes as a reader sees them, in the order of the set.
  std::vector<const PackVolume*> volumes() const;
  PackArchive* primary() const { return archives_.empty() ? nullptr : archives_.front().get(); }

 private:
  std::uint32_t sizeLimit_ = kDefaultVolumeSizeLimit;
  int lockTimeout_ = kDefaultLockTimeoutMilliseconds;
  bool readOnly_ = false;
  platform::Status lastFailure_;
  platform::Status unloadedVolume_;  // why a volume of the chain did not load
  std::string volumePattern_ = "Data%d.pak";
  // Where CreateVolume(requested) puts the new volume, and its name.
  std::string NextVolumePath(const std::string& requested, std::string* name) const;
  // After a failed commit: volumes created in the batch are closed and
  // deleted (kept on disk when a header could not be put back), the others
  // return to their state on disk.
  void RollBack(const std::vector<PackArchive*>& changed);
  // The first volume, with the last failure cleared and name in key form in
  // *key; null (the failure noted) when no volume is loaded.
  PackArchive* BeginAdd(const std::string& name, std::string* key);
  void DropVolume(PackArchive* volume, bool deleteFile);

  std::vector<std::unique_ptr<PackArchive>> archives_;
  std::unique_ptr<NameRuleList> rules_;
  bool inBatch_ = false;
  // Look-ups answered from pending directories; past kPendingLookups the
  // heads are built (see FindPendingName).
  static constexpr int kPendingLookups = 8;
  int pendingLookups_ = 0;
};

// Makes an operation a batch of its own when no batch is open: begins one on
// construction; Commit or Finish commits it. A commit is never implied: a
// scope left without one (an early return) abandons its batch. Inside an open
// batch it does nothing, and the batch's owner commits.
class BatchScope {
 public:
  explicit BatchScope(CPKFSF* fileSystem)
      : fileSystem_(fileSystem), own_(fileSystem != nullptr && !fileSystem->inBatch()) {
    if (own_) fileSystem_->BeginBatch();
  }
  ~BatchScope() {
    if (own_) fileSystem_->AbandonBatch();
  }
  BatchScope(const BatchScope&) = delete;
  BatchScope& operator=(const BatchScope&) = delete;

  // Commits the scope's own batch; Ok inside a batch it does not own.
  platform::Status Commit() {
    if (!own_) return platform::Status::Ok();
    own_ = false;
    return fileSystem_->CommitBatch();
  }
  // The operation's result, false when its own commit failed.
  bool Finish(bool result) {
    const bool committed = Commit().ok();
    return result && committed;
  }

 private:
  CPKFSF* fileSystem_;
  bool own_;
};

}  // namespace pkfs

#endif  // PKFS_PKFSF_H_

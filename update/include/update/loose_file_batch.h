// The one way a loose file is written into the installation: the new bytes go
// to a temporary file beside the destination, and only a complete, durable
// temporary is renamed over the old file. A failed write therefore leaves the
// old file whole and no temporary behind; a power loss leaves the old file or
// the new one, never a torn mix.
//
// Files are written in batches so that durability costs one sync per file
// system per batch instead of one per file:
//   Stage (each file: temporary written), Commit (sync, rename each over its
//   destination, sync again). Only after Commit reported a file as in place
//   may its source be deleted.
// The temporary may also come about without writing: as a second name of a
// source that is deleted afterwards (StageByLink), or by naming a file that
// was written ahead, unnamed, on another thread (StagePrepared).
#ifndef UPDATE_LOOSE_FILE_BATCH_H_
#define UPDATE_LOOSE_FILE_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/file_identity.h"
#include "platform/status.h"
#include "platform/unnamed_file.h"
#include "update/payload_sink.h"

namespace update {

class LooseFileBatch {
 public:
  // A batch is committed when its new bytes reach kMaxBytes, or kMaxMilliseconds
  // after its first file was staged, whichever comes first: a stop loses at
  // most that much work, and the syncs stay a small share of the writing.
  static constexpr std::uint64_t kMaxBytes = 64ull << 20;
  static constexpr std::uint32_t kMaxMilliseconds = 3000;

  // Suffix of the temporaries, appended to the destination's file name.
  static constexpr char kTemporarySuffix[] = ".marovetin-new";

  // Writes, renames and syncs through env.
  explicit LooseFileBatch(platform::Env* env = platform::Env::Default()) : env_(env) {}
  ~LooseFileBatch();  // discards what was staged and not committed
  LooseFileBatch(const LooseFileBatch&) = delete;
  LooseFileBatch& operator=(const LooseFileBatch&) = delete;

  // Where a write to a destination lands: the file the rename replaces (for a
  // link, the file it leads to; otherwise the destination with the letter
  // case of an existing match) and the key under which two destinations are
  // one file (its directory's identity and its name, letter case aside, as
  // names match on the system the installation comes from).
  struct Target {
    std::string path;
    std::string key;
    platform::FileStamp existing;  // what is at the destination now
    std::uint64_t device = 0;      // its directory's file system, when known
    bool deviceKnown = false;
    // The delivered file whose permission bits (less the umask) a new file
    // takes; empty: those of any new file. A replaced file keeps its own.
    std::string delivered;
  };

  // The target of destination, whose stamp the caller may already hold.
  Target Locate(const std::string& destination) const;
  Target Locate(const std::string& destination, const platform::FileStamp& existing) const;

  // Writes size bytes to a temporary beside target, whose directory must
  // exist. The new file keeps the old one's permission bits, or takes those
  // of target.delivered when there is no old one.
  // On failure nothing is left behind and the status names destination and
  // the reason ("No space left on device").
  platform::Status Stage(const std::string& destination, const Target& target,
                         const unsigned char* data, std::size_t size);
  platform::Status Stage(const std::string& destination, const unsigned char* data,
                         std::size_t size) {
    return Stage(destination, Locate(destination), data, size);
  }

  // Decodes a payload straight into a temporary beside target, as Stage
  // writes one: produce hands the bytes, piece by piece, to the sink it is
  // given. When produce fails to decode (decoded says why) or a write fails
  // (the status says why), nothing is left behind; *size gets the bytes
  // written.
  using Producer = std::function<PayloadResult(PayloadSink& sink)>;
  platform::Status StageFrom(const std::string& destination, const Target& target,
                             const Producer& produce, PayloadResult* decoded, std::uint64_t* size);

  // Stages the file at source itself rather than a copy of its bytes, for a
  // source that is deleted once the commit reported its file in place: the
  // temporary becomes a second name of source (platform::LinkAsNewFile),
  // which the commit renames like any temporary, and the source's deletion
  // then leaves the file under its new name alone. No byte is copied, and
  // the commit's first sync makes the source's bytes durable where they are.
  // False, with nothing staged, when source cannot be linked there (another
  // file system, another owner, a file with other names): the caller then
  // stages a copy.
  bool StageByLink(const std::string& destination, const Target& target, const std::string& source);

  // Stages prepared, a file holding the bytes that was written ahead in
  // target's directory, as target's temporary: the file is only named. False,
  // with nothing staged and prepared untouched, when it was written elsewhere
  // or cannot be named: the caller then stages the bytes.
  bool StagePrepared(const std::string& destination, const Target& target,
                     platform::UnnamedFile& prepared, std::size_t size);

  // Takes in a file that is at target already: the source was moved there by
  // a run cut short before it deleted the source, so both names lead to one
  // file. Nothing is written; the commit makes it durable with the rest and
  // reports it in place, so that the source may go.
  void StageInPlace(const std::string& destination, const Target& target);

  // True when a staged file already goes to target: the batch must be
  // committed first, so that the later file is renamed over the earlier.
  bool Holds(const Target& target) const { return keys_.count(target.key) != 0; }
  bool Holds(const std::string& destination) const { return Holds(Locate(destination)); }

  // True when the batch has reached its size or age, or would pass kMaxBytes
  // with size more bytes.
  bool Full(std::uint64_t size = 0) const;
  bool empty() const { return staged_.empty(); }
  std::size_t size() const { return staged_.size(); }

  // Makes every staged file durable, renames each over its destination in the
  // order staged, and makes the renames durable. Returns one status per staged
  // file, in that order: OK when the file is in place and durable. Afterwards
  // the batch is empty.
  std::vector<platform::Status> Commit();

  // Removes every staged temporary; the destinations stay as they were.
  void Discard();

  // How many syncs Commit has made over this object's life.
  int syncCount() const { return syncCount_; }

 private:
  platform::Env* env_;
  struct Staged {
    std::string destination;  // as the caller named it, for messages
    Target target;
    std::string temporary;  // empty for a file that is in place already
  };
  struct DirectoryId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
  };

  // Takes a written temporary into the batch.
  void Add(Staged file, std::uint64_t size);
  // A staged file's temporary, with a leftover of a run cut short removed.
  Staged Begin(const std::string& destination, const Target& target) const;

  // The identity of directory, read once per batch: the run itself only adds
  // entries to the directories it writes into.
  bool IdentifyDirectory(const std::string& directory, DirectoryId* id) const;

  // One sync of every file system that holds one of the staged files whose
  // result is still OK (the temporaries, or their targets once renamed); the
  // first failure.
  platform::Status SyncFileSystems(const std::vector<platform::Status>& results, bool renamed);

  std::vector<Staged> staged_;
  std::set<std::string> keys_;  // the staged files' keys, for Holds
  mutable std::map<std::string, DirectoryId> directories_;
  std::uint64_t stagedBytes_ = 0;
  std::uint32_t firstStagedAt_ = 0;  // the clock's milliseconds at the first stage
  int syncCount_ = 0;
};

}  // namespace update

#endif  // UPDATE_LOOSE_FILE_BATCH_H_

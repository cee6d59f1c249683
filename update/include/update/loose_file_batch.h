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
#ifndef UPDATE_LOOSE_FILE_BATCH_H_
#define UPDATE_LOOSE_FILE_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/status.h"

namespace update {

class LooseFileBatch {
 public:
  // A batch is committed at this many files or bytes, whichever comes first.
  static constexpr std::size_t kMaxFiles = 1000;
  static constexpr std::uint64_t kMaxBytes = 64ull << 20;

  // Suffix of the temporaries, appended to the destination's file name.
  static constexpr char kTemporarySuffix[] = ".marovetin-new";

  LooseFileBatch() = default;
  ~LooseFileBatch();  // discards what was staged and not committed
  LooseFileBatch(const LooseFileBatch&) = delete;
  LooseFileBatch& operator=(const LooseFileBatch&) = delete;

  // Writes size bytes to a temporary beside destination, whose directory must
  // exist. A destination that is a link is replaced at the file it leads to;
  // the new file keeps the old one's permissions (plus owner write). On
  // failure nothing is left behind and the status names destination and the
  // reason ("No space left on device").
  platform::Status Stage(const std::string& destination, const unsigned char* data,
                         std::size_t size);

  // True when a staged file already goes to destination (letter case aside,
  // as names match on the system the installation comes from): the batch must
  // be committed first, so that the later file is renamed over the earlier.
  bool Holds(const std::string& destination) const;

  // True when the batch has reached its size, or would pass kMaxBytes with
  // size more bytes.
  bool Full(std::size_t size = 0) const;
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
  struct Staged {
    std::string destination;  // as the caller named it, for messages
    std::string target;       // the file the rename replaces
    std::string temporary;
    std::string key;  // target with ASCII letters lower-cased
  };

  // One sync of every file system that holds one of paths; the first failure.
  platform::Status SyncFileSystems(const std::vector<std::string>& paths);

  std::vector<Staged> staged_;
  std::set<std::string> keys_;  // the staged files' keys, for Holds
  std::uint64_t stagedBytes_ = 0;
  int syncCount_ = 0;
};

}  // namespace update

#endif  // UPDATE_LOOSE_FILE_BATCH_H_

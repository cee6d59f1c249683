// What the pack stage knows between its files: the directories it stores
// from, whether its search saw all of them, and its open batch of stores with
// the delivered files waiting for the batch's commit. A batch opens at the
// first store and commits when it holds enough bytes or has been open long
// enough, or when the stage ends; only a committed file counts as stored.
#ifndef UPDATE_PACK_STAGE_H_
#define UPDATE_PACK_STAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "update/pack_store.h"

namespace update {

class PackStage {
 public:
  // When an open batch commits: at this many bytes stored, or this long after
  // it opened, whichever comes first.
  struct Budget {
    std::uint64_t bytes = std::uint64_t{256} << 20;
    std::uint32_t milliseconds = 5000;
  };
  // A delivered file stored in the open batch.
  struct Source {
    std::string entry;     // the delivered file
    std::string relative;  // the name below "Pak"
    std::uint64_t size;    // the bytes stored
  };

  // store must outlive the stage.
  explicit PackStage(PackStore& store) : store_(store) {}

  // The stage's directories ("Pak" in each letter case it came in), and
  // whether a directory of its search could not be listed.
  void SetDirectories(std::vector<std::string> directories, bool searchIncomplete);
  const std::vector<std::string>& directories() const { return directories_; }
  bool searchIncomplete() const { return searchIncomplete_; }

  void SetBudget(const Budget& budget) { budget_ = budget; }
  bool batchOpen() const { return batchOpen_; }
  // Begins a batch on the store unless one is open.
  void OpenBatch();
  // source's bytes were stored in the open batch.
  void NoteStored(Source source);
  // The open batch has used its budget.
  bool BatchFull() const;
  // Commits the open batch: the store's verdict, and in *sources the files
  // it held (each stored when the verdict is OK, none otherwise). The stage
  // then has no batch open.
  platform::Status CommitBatch(std::vector<Source>* sources);

 private:
  PackStore& store_;
  std::vector<std::string> directories_;
  bool searchIncomplete_ = false;
  Budget budget_;
  bool batchOpen_ = false;
  std::vector<Source> sources_;
  std::uint64_t bytes_ = 0;
  std::uint32_t openedAt_ = 0;  // the clock's milliseconds when the batch opened
};

}  // namespace update

#endif  // UPDATE_PACK_STAGE_H_

// What the loose-file stage knows between its files: how this run applies
// them (into an installation that is its own work path, or from a work path
// of its own; moved into place or copied), its batch of files written to
// temporaries, and the delivered file behind each of them, which counts as
// applied only once the batch's commit put it in place.
#ifndef UPDATE_LOOSE_STAGE_H_
#define UPDATE_LOOSE_STAGE_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/status.h"
#include "update/loose_file_batch.h"
#include "update/read_ahead.h"

namespace update {

class LooseStage {
 public:
  // A delivered file whose bytes wait in the batch.
  struct Pending {
    std::string entry;     // the delivered file
    std::string relative;  // its name below the work path
    bool inPack;           // a pack update file met again: its failure keeps nothing back
  };

  // Writes, renames and syncs through env (which must outlive the stage).
  explicit LooseStage(platform::Env* env) : env_(env), batch_(env) {}

  // The run's way of applying files: workPathIsInstallation when every file
  // is its own destination; the sources are moved into place (not read) when
  // they are deleted afterwards anyway ("-df"), delivered as they are, and
  // come from a work path of their own.
  void Begin(bool workPathIsInstallation, bool deleteSources, bool payloadsAsDelivered);
  bool workPathIsInstallation() const { return workPathIsInstallation_; }
  bool movesSources() const { return movesSources_; }

  // Writes each decoded file of source ahead, unnamed, in its directory
  // below installation (when that is there), so that at its turn it is only
  // named. None when the work path is the installation.
  ReadAhead::Preparer MakePreparer(const std::string& installation,
                                   const std::string& source) const;

  LooseFileBatch& batch() { return batch_; }
  // file's bytes were staged in the batch.
  void NoteStaged(Pending file) { pending_.push_back(std::move(file)); }
  bool HasPending() const { return !pending_.empty(); }
  // Commits the batch: each pending file with its outcome, in staging order.
  std::vector<std::pair<Pending, platform::Status>> Commit();

 private:
  platform::Env* env_;
  LooseFileBatch batch_;
  std::vector<Pending> pending_;
  bool workPathIsInstallation_ = false;
  bool movesSources_ = false;
};

}  // namespace update

#endif  // UPDATE_LOOSE_STAGE_H_

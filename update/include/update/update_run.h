// Runs the whole update (the modal progress dialog and its stages) for a host.
#ifndef UPDATE_UPDATE_RUN_H_
#define UPDATE_UPDATE_RUN_H_

#include "update/update_host.h"

namespace update {

struct UpdateOutcome {
  bool refused = false;   // the version gate refused the update; nothing was changed
  bool packBusy = false;  // another process held the pack; nothing was changed
  int keptBack = 0;       // update files left in place because they could not be applied
};

// Mounts the pack file system, runs the dialog's state machine to its end and
// reports what happened. Each file kept back is named on standard error.
UpdateOutcome RunUpdateDialog(UpdateHost& host);

}  // namespace update

#endif  // UPDATE_UPDATE_RUN_H_

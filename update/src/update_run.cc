// The update run: the dialog, its pack file system and its progress view for
// the length of one modal run.
#include "update/update_run.h"

#include <memory>

#include "platform/file_system.h"
#include "ui/interrupt.h"
#include "ui/progress_view.h"
#include "resources/dialog_template.h"
#include "update/pack_store.h"
#include "update/update_dialog.h"

namespace update {

UpdateOutcome RunUpdateDialog(UpdateHost& host) {
  // The dialog cannot be closed while it works: Ctrl-C becomes a close
  // request that the dialog swallows, rather than an end halfway through a
  // file.
  ui::CloseRequestGuard closeRequests;
  // One listing per directory for the whole run: thousands of new files in
  // one directory would otherwise each read it whole to match letter case.
  platform::NameMatchCacheScope nameMatchCache;
  ui::ProgressView progress(resources::kUpdateDialog.staticText.text);
  std::unique_ptr<PackStore> packStore = MakePkfsPackStore(host.env());
  UpdateDialog dialog(host, *packStore, progress);
  dialog.SetReadAheadLimits(ReadAheadLimitsFromEnvironment());
  dialog.DoModal();
  return dialog.outcome();
}

}  // namespace update

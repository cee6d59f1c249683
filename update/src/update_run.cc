// Placeholder until the update dialog lands: the update does nothing.
#include "update/update_run.h"

namespace update {

UpdateOutcome RunUpdateDialog(UpdateHost&) { return UpdateOutcome{}; }

}  // namespace update

#include "ui/quiet_run.h"

#include "native_window.h"

namespace ui {

namespace {
bool quietRun = false;
}  // namespace

void SetQuietRun(bool quiet) { quietRun = quiet; }

namespace internal {
bool QuietRun() { return quietRun; }
}  // namespace internal

}  // namespace ui

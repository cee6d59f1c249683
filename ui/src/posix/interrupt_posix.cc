#include "ui/interrupt.h"

#include <signal.h>

#include <atomic>
#include <memory>

#include "desktop_window.h"

namespace ui {

namespace {

// Set from the signal handler: only a lock-free atomic may be touched there.
// A flag rather than a count, since several requests collapse into one, and a
// count could wrap to a value that reads as none.
std::atomic<bool> closeRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void RecordCloseRequest(int) { closeRequested.store(true); }

}  // namespace

namespace internal {
void RecordCloseRequest() { closeRequested.store(true); }
}  // namespace internal

struct CloseRequestGuard::Saved {
  struct sigaction previous;
  bool installed = false;
};

CloseRequestGuard::CloseRequestGuard() : saved_(std::make_unique<Saved>()) {
  struct sigaction action = {};
  action.sa_handler = RecordCloseRequest;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  saved_->installed = sigaction(SIGINT, &action, &saved_->previous) == 0;
}

CloseRequestGuard::~CloseRequestGuard() {
  if (saved_->installed) sigaction(SIGINT, &saved_->previous, nullptr);
}

bool TakeCloseRequest() {
  // The modal loop asks before every message: this is where the desktop
  // window (when there is one) redraws and takes a click on its close button.
  internal::PumpDesktopWindow();
  if (!closeRequested.exchange(false)) return false;
  internal::NoteCloseRequestTaken();
  return true;
}

}  // namespace ui

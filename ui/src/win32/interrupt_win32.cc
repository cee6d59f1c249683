// Close requests on Windows: Ctrl-C or Ctrl-Break in the console, and Escape
// or the close command on the progress dialog. While a guard lives, each is
// recorded instead of ending the process.
#include <atomic>
#include <memory>

#include "ui/interrupt.h"
#include "ui_windows.h"

namespace ui {

namespace {

// Set from the console's handler thread: a lock-free atomic.
std::atomic<bool> closeRequested{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    closeRequested.store(true);
    return TRUE;  // handled: the process goes on
  }
  return FALSE;  // closing the console, logging off: the default ends the process
}

}  // namespace

namespace internal {
void RecordCloseRequest() { closeRequested.store(true); }
}  // namespace internal

struct CloseRequestGuard::Saved {
  bool installed = false;
};

CloseRequestGuard::CloseRequestGuard() : saved_(std::make_unique<Saved>()) {
  saved_->installed = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

CloseRequestGuard::~CloseRequestGuard() {
  if (saved_->installed) ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool TakeCloseRequest() {
  // The modal loop asks before every message: this is where the window's
  // own messages get through while the update works, and a click on it
  // becomes a request in time for the next message.
  internal::DispatchWindowMessages();
  return closeRequested.exchange(false);
}

}  // namespace ui

#include "platform/interrupt.h"

#include <signal.h>

#include <atomic>
#include <memory>

namespace platform {

namespace {

// Written from the signal handler: a lock-free atomic is async-signal-safe.
std::atomic<int> pendingCloseRequests{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void RecordCloseRequest(int) { pendingCloseRequests.fetch_add(1); }

}  // namespace

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

bool TakeCloseRequest() { return pendingCloseRequests.exchange(0) > 0; }

}  // namespace platform

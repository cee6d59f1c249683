// marovetin-mkupdate: makes the update that turns one installation into
// another. A signal ends the run as a failure, with OUT taken back.
#include <signal.h>

#include <atomic>

#include "mkupdate/build_update.h"

namespace {

std::atomic<bool> stopRequested{false};

void RequestStop(int) { stopRequested = true; }

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  return mkupdate::RunTool(argc, argv, stopRequested);
}

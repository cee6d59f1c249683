// Standard streams for command-line tools.
#include "platform/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

bool StandardErrorIsTerminal() { return ::isatty(2) == 1; }

StandardOutputMuted::StandardOutputMuted() {
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  saved_ = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (saved_ >= 0 && ::dup2(null, 1) < 0) {
    ::close(saved_);
    saved_ = -1;
  }
  ::close(null);
}

StandardOutputMuted::~StandardOutputMuted() {
  if (saved_ < 0) return;
  std::fflush(stdout);
  ::dup2(saved_, 1);
  ::close(saved_);
}

}  // namespace platform

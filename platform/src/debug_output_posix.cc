// The debugger channel: standard error, only when a developer asked for it.
#include "platform/debug_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

void DebugOutput(const std::string& text) {
  if (std::getenv("MAROVETIN_DEBUG") == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

bool SilenceStandardOutput() {
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return false;
  // The descriptor itself is replaced, so that every writer (the C stream,
  // a library printing on its own) goes to the null device alike.
  const bool replaced = ::dup2(null, STDOUT_FILENO) >= 0;
  ::close(null);
  return replaced;
}

}  // namespace platform

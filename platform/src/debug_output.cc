// The debugger channel: standard error, only when a developer asked for it.
#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void DebugOutput(const std::string& text) {
  if (std::getenv("MAROVETIN_DEBUG") == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform

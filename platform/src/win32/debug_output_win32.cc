// The debugger channel: OutputDebugStringA, where a debugger or a viewer of
// debug output sees it; standard error as well when a developer asked for it
// with MAROVETIN_DEBUG, as on POSIX.
#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"
#include "windows_api.h"

namespace platform {

void DebugOutput(const std::string& text) {
  ::OutputDebugStringA(text.c_str());
  if (std::getenv("MAROVETIN_DEBUG") == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform

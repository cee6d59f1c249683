// When a desktop window stands in for the terminal.
#include <cstdlib>

#include "desktop_window.h"

namespace ui {
namespace internal {

namespace {

bool Named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && value[0] != '\0';
}

}  // namespace

bool DesktopWindowWanted(std::FILE* stream) {
  // A terminal shows the bar itself; a log or a pipe behind standard error,
  // with a display there, means nobody would see anything without a window.
  return stream == stderr && !IsTerminal(stream) &&
         (Named("DISPLAY") || Named("WAYLAND_DISPLAY")) &&
         std::getenv("MAROVETIN_NO_WINDOW") == nullptr && !QuietRun();
}

}  // namespace internal
}  // namespace ui

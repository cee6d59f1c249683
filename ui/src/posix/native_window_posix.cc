// The terminal, and the desktop window that stands in for it when nobody
// would see the terminal (desktop_window.h).
#include <sys/stat.h>
#include <unistd.h>

#include "desktop_window.h"

namespace ui {
namespace internal {

bool IsTerminal(std::FILE* stream) {
  int fd = stream == nullptr ? -1 : fileno(stream);
  return fd >= 0 && isatty(fd) == 1;
}

bool SameTerminal(std::FILE* a, std::FILE* b) {
  if (!IsTerminal(a) || !IsTerminal(b)) return false;
  struct stat sa, sb;
  if (fstat(fileno(a), &sa) != 0 || fstat(fileno(b), &sb) != 0) return false;
  return sa.st_rdev == sb.st_rdev;
}

std::unique_ptr<ProgressWindow> OpenProgressWindow(const std::string& text, std::FILE* stream) {
  if (!DesktopWindowWanted(stream)) return nullptr;
  return OpenDesktopProgressWindow(text);
}

void ShowNativeMessageBox(const std::string& title, const std::string& text, std::FILE* stream) {
  if (DesktopWindowWanted(stream)) ShowDesktopMessageBox(title, text);
}

}  // namespace internal
}  // namespace ui

// A terminal has no windows: the progress view draws on the terminal itself.
#include <sys/stat.h>
#include <unistd.h>

#include "native_window.h"

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

std::unique_ptr<ProgressWindow> OpenProgressWindow(const std::string&) { return nullptr; }

void ShowNativeMessageBox(const std::string&, const std::string&, std::FILE*) {}

}  // namespace internal
}  // namespace ui

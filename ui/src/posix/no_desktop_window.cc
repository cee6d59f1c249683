// A build without the GTK window (MAROVETIN_GTK off): the terminal rules alone.
#include "desktop_window.h"

namespace ui {
namespace internal {

std::unique_ptr<ProgressWindow> OpenDesktopProgressWindow(const std::string&) { return nullptr; }

bool ShowDesktopMessageBox(const std::string&, const std::string&) { return false; }

void NoteCloseRequestTaken() {}

void PumpDesktopWindow() {}

}  // namespace internal
}  // namespace ui

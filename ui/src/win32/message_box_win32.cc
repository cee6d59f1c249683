// Message boxes on Windows: a real MessageBoxA, owned by the progress dialog
// when it is open, after the line the portable part wrote on the stream.
#include "native_window.h"
#include "ui_windows.h"

namespace ui {
namespace internal {

void ShowNativeMessageBox(const std::string& title, const std::string& text, std::FILE* stream) {
  // Only the box of a real run: a test that hands its own stream gets the
  // line alone, and nobody would be there to press OK.
  if (stream == stderr && WindowsWanted()) {
    ::MessageBoxA(ActiveDialog(), text.c_str(), title.c_str(),
                  MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
  }
}

}  // namespace internal
}  // namespace ui

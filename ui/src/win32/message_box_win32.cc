// Message boxes on Windows: a real MessageBoxA, owned by the progress dialog
// when it is open, as well as the line on the stream that the terminal
// version writes (scripts and tests read it there).
#include "ui/message_box.h"
#include "ui_windows.h"

namespace ui {

int ShowMessageBox(const std::string& title, const std::string& text, std::FILE* stream) {
  std::string line = title + ": " + text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
  // Only the box of a real run: a test that hands its own stream gets the
  // line alone, and nobody would be there to press OK.
  if (stream == stderr && internal::WindowsWanted()) {
    ::MessageBoxA(internal::ActiveDialog(), text.c_str(), title.c_str(),
                  MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
  }
  return kMessageBoxOk;
}

}  // namespace ui

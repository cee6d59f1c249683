// Message boxes: one line on the stream on every system (scripts and tests
// read it there), then the system's own box where it has one.
#include "ui/message_box.h"

#include "native_window.h"

namespace ui {

int ShowMessageBox(const std::string& title, const std::string& text, std::FILE* stream) {
  std::string line = title + ": " + text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
  internal::ShowNativeMessageBox(title, text, stream);
  return kMessageBoxOk;
}

}  // namespace ui

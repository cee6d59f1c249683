#include "ui/message_box.h"

namespace ui {

int ShowMessageBox(const std::string& title, const std::string& text, std::FILE* stream) {
  std::string line = title + ": " + text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
  return kMessageBoxOk;
}

}  // namespace ui

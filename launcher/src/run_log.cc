#include "launcher/run_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/file_system.h"

namespace launcher {

std::string FormatLogLine(const platform::LocalTime& time, const std::string& text) {
  char stamp[96];
  const int length = std::snprintf(stamp, sizeof stamp, "%d-%d-%d\t%d:%d:%d\t", time.year,
                                   time.month, time.day, time.hour, time.minute, time.second);
  // Six ints fit easily; the bound only keeps a cut-off stamp inside stamp.
  const std::size_t stampLength =
      length <= 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof stamp - 1);
  std::string line(stamp, stampLength);
  line.append(text.c_str(), std::strlen(text.c_str()));
  line.push_back('\n');
  return line;
}

void RunLog::write(const std::string& text) {
  if (fileName_.empty()) return;
  const std::string line = FormatLogLine(platform::GetLocalTime(), text);

  std::FILE* file = nullptr;
  bool written = false;
  if (env_->OpenStream(fileName_, "ab+", &file).ok()) {
    written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    written = (std::fclose(file) == 0) && written;
  }
  if (!written && !failureReported_) {
    failureReported_ = true;
    std::fflush(stdout);  // the lines before it come first
    std::fprintf(stderr, "marovetin: cannot write the run log \"%s\"; its lines are dropped\n",
                 fileName_.c_str());
  }
}

void RunLog::reset() {
  fileName_.clear();
  failureReported_ = false;
}

}  // namespace launcher

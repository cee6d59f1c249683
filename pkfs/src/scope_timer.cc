// Millisecond timing of one operation and its "Cost Time" line.
#include "scope_timer.h"

#include <cstdio>
#include <utility>

#include "pkfs/fs_manager.h"
#include "platform/clock.h"

namespace pkfs {

ScopeTimer::ScopeTimer(std::string name)
    : start_(platform::TickMilliseconds()), name_(std::move(name)) {}

std::string ScopeTimer::FormatLine(const std::string& text) {
  // The tick wraps at 2^32; unsigned subtraction keeps the difference right.
  elapsed_ = platform::TickMilliseconds() - start_;
  const platform::LocalTime now = platform::GetLocalTime();
  const char* const format = "%04d/%02d/%02d %d:%d:%d %s %s Cost Time is %d\n";
  const int elapsed = static_cast<int>(elapsed_);
  const int needed = std::snprintf(nullptr, 0, format, now.year, now.month, now.day, now.hour,
                                   now.minute, now.second, name_.c_str(), text.c_str(), elapsed);
  if (needed <= 0) return std::string();
  // Sized from the text itself, so long names are never cut off.
  std::string line(static_cast<std::size_t>(needed) + 1, '\0');
  std::snprintf(&line[0], line.size(), format, now.year, now.month, now.day, now.hour, now.minute,
                now.second, name_.c_str(), text.c_str(), elapsed);
  line.resize(static_cast<std::size_t>(needed));
  return line;
}

std::string ScopeTimer::Report(const std::string& text, const CFSManager* output) {
  if (output == nullptr) {
    // A line that nobody sees is not worth formatting: filters report on
    // every piece they touch, and only the elapsed time is kept.
    elapsed_ = platform::TickMilliseconds() - start_;
    return std::string();
  }
  std::string line = FormatLine(text);
  output->Output(OutputStream::kOutput, line);
  return line;
}

}  // namespace pkfs

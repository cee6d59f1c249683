// Local time from GetLocalTime and the millisecond tick from timeGetTime (the
// multimedia timer, which wraps at 2^32 ms), each replaceable by a test source.
#include <utility>

#include "platform/clock.h"
#include "windows_api.h"
// After windows.h, which it builds on.
#include <mmsystem.h>

namespace platform {

namespace {

std::function<LocalTime()>& LocalTimeSource() {
  static std::function<LocalTime()> source;
  return source;
}

std::function<std::uint32_t()>& TickSource() {
  static std::function<std::uint32_t()> source;
  return source;
}

}  // namespace

LocalTime GetLocalTime() {
  if (const auto& source = LocalTimeSource()) return source();
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  LocalTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  return result;
}

std::uint32_t TickMilliseconds() {
  if (const auto& source = TickSource()) return source();
  return static_cast<std::uint32_t>(::timeGetTime());
}

void SetLocalTimeSourceForTesting(std::function<LocalTime()> source) {
  LocalTimeSource() = std::move(source);
}

void SetTickSourceForTesting(std::function<std::uint32_t()> source) {
  TickSource() = std::move(source);
}

}  // namespace platform

// Local time from GetLocalTime and the millisecond tick from timeGetTime (the
// multimedia timer, which wraps at 2^32 ms).
#include "clock_system.h"
#include "windows_api.h"
// After windows.h, which it builds on.
#include <mmsystem.h>

namespace platform {
namespace internal {

LocalTime SystemLocalTime() {
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

std::uint32_t SystemTickMilliseconds() { return static_cast<std::uint32_t>(::timeGetTime()); }

}  // namespace internal
}  // namespace platform

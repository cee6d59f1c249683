// Local time from the C library and a millisecond tick from the monotonic
// clock.
#include <time.h>

#include "clock_system.h"

namespace platform {
namespace internal {

LocalTime SystemLocalTime() {
  LocalTime result;
  time_t now = ::time(nullptr);
  struct tm parts;
  if (::localtime_r(&now, &parts) == nullptr) return result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  return result;
}

std::uint32_t SystemTickMilliseconds() {
  struct timespec now;
  if (::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
  // Unsigned arithmetic: the count wraps at 2^32 like the Windows tick.
  std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

}  // namespace internal
}  // namespace platform

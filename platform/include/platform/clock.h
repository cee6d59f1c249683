// Local date and time, and a millisecond tick.
#ifndef MAROVETIN_PLATFORM_CLOCK_H_
#define MAROVETIN_PLATFORM_CLOCK_H_

#include <cstdint>
#include <functional>

namespace platform {

struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..60
};

// The local date and time from the C library (or from the test clock).
LocalTime GetLocalTime();

// Milliseconds from a monotonic clock; wraps at 2^32 like the Windows tick.
std::uint32_t TickMilliseconds();

// Replaces the local clock (tests only); nullptr restores the real one.
void SetLocalTimeSourceForTesting(std::function<LocalTime()> source);

// Replaces the tick source (tests only); nullptr restores the real one.
void SetTickSourceForTesting(std::function<std::uint32_t()> source);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_CLOCK_H_

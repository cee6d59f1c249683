// The system clocks behind platform/clock.h, one set per system (clock_posix.cc,
// win32/clock_win32.cc); the test sources that replace them are in
// clock_portable.cc.
#ifndef MAROVETIN_PLATFORM_SRC_CLOCK_SYSTEM_H_
#define MAROVETIN_PLATFORM_SRC_CLOCK_SYSTEM_H_

#include <cstdint>

#include "platform/clock.h"

namespace platform {
namespace internal {

LocalTime SystemLocalTime();

// Milliseconds, wrapping at 2^32.
std::uint32_t SystemTickMilliseconds();

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_CLOCK_SYSTEM_H_

// The local time and the millisecond tick, each from the system clock
// (clock_system.h) unless a test has put a source of its own in its place.
#include <utility>

#include "clock_system.h"
#include "platform/clock.h"

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
  return internal::SystemLocalTime();
}

std::uint32_t TickMilliseconds() {
  if (const auto& source = TickSource()) return source();
  return internal::SystemTickMilliseconds();
}

void SetLocalTimeSourceForTesting(std::function<LocalTime()> source) {
  LocalTimeSource() = std::move(source);
}

void SetTickSourceForTesting(std::function<std::uint32_t()> source) {
  TickSource() = std::move(source);
}

}  // namespace platform

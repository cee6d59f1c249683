#include "platform/clock.h"

#include <ctime>

#include "gtest/gtest.h"

namespace {

TEST(ClockTest, LocalTimeIsPlausible) {
  platform::LocalTime now = platform::GetLocalTime();
  EXPECT_GE(now.year, 2000);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 60);
}

TEST(ClockTest, TickIsMonotonic) {
  std::uint32_t first = platform::TickMilliseconds();
  struct timespec pause = {0, 20 * 1000 * 1000};
  nanosleep(&pause, nullptr);
  std::uint32_t elapsed = platform::TickMilliseconds() - first;  // wrap-safe
  EXPECT_GE(elapsed, 19u);
  EXPECT_LT(elapsed, 60u * 1000u);
}

TEST(ClockTest, TestSourcesReplaceAndRestore) {
  platform::SetLocalTimeSourceForTesting([] {
    platform::LocalTime t;
    t.year = 2004;
    t.month = 2;
    t.day = 29;
    t.hour = 23;
    t.minute = 5;
    t.second = 7;
    return t;
  });
  platform::SetTickSourceForTesting([] { return 0xFFFFFFF0u; });
  platform::LocalTime t = platform::GetLocalTime();
  EXPECT_EQ(t.year, 2004);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.second, 7);
  EXPECT_EQ(platform::TickMilliseconds(), 0xFFFFFFF0u);
  platform::SetLocalTimeSourceForTesting(nullptr);
  platform::SetTickSourceForTesting(nullptr);
  EXPECT_GE(platform::GetLocalTime().year, 2000);
}

}  // namespace

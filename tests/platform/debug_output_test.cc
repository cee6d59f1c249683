#include "platform/debug_output.h"

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "test_support.h"
#include "platform/cpu_features.h"

namespace {

TEST(DebugOutputTest, WrittenOnlyWhenAskedFor) {
  ::unsetenv("MAROVETIN_DEBUG");
  testing::internal::CaptureStderr();
  platform::DebugOutput("silent");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

#ifdef _WIN32
  ::setenv("MAROVETIN_DEBUG", "1", 1);  // the C runtime removes a variable set empty
#else
  ::setenv("MAROVETIN_DEBUG", "", 1);  // set, even if empty
#endif
  testing::internal::CaptureStderr();
  platform::DebugOutput("Write Buffer OK!!");
  platform::DebugOutput(std::string("a\0b", 3));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string("Write Buffer OK!!a\0b", 20));
  ::unsetenv("MAROVETIN_DEBUG");
}

TEST(CpuFeaturesTest, MmxProbeAnswersConsistently) {
  bool first = platform::ProcessorHasMmx();
#if defined(__x86_64__)
  EXPECT_TRUE(first);  // every 64-bit x86 processor has MMX
#elif !defined(__i386__)
  EXPECT_FALSE(first);
#endif
  EXPECT_EQ(platform::ProcessorHasMmx(), first);
}

}  // namespace

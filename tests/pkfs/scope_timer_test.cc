// The "Cost Time" line of timed operations.
#include "scope_timer.h"

#include <gtest/gtest.h>

#include <string>

#include "pkfs/fs_manager.h"
#include "platform/clock.h"
#include "test_support.h"

namespace {

class ScopeTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLocalTimeSourceForTesting([] {
      platform::LocalTime t;
      t.year = 2010;
      t.month = 2;
      t.day = 9;
      t.hour = 8;
      t.minute = 5;
      t.second = 3;
      return t;
    });
    platform::SetTickSourceForTesting([this] { return tick_; });
  }
  void TearDown() override {
    platform::SetLocalTimeSourceForTesting(nullptr);
    platform::SetTickSourceForTesting(nullptr);
  }
  std::uint32_t tick_ = 1000;
};

TEST_F(ScopeTimerTest, ReportHandsTheCostTimeLineToTheManagersSink) {
  testing_support::TempDir dir;
  pkfs::CFSManager manager(dir.path());
  pkfs::ScopeTimer timer("AddFileFromBuffer");
  tick_ += 12;
  // The default sink: standard output.
  testing::internal::CaptureStdout();
  const std::string line = timer.Report("x", &manager);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), line);
  EXPECT_EQ(line, "2010/02/09 8:5:3 AddFileFromBuffer x Cost Time is 12\n");
  EXPECT_EQ(timer.elapsed(), 12u);
  // A sink of its own takes the line instead.
  std::string taken;
  manager.SetOutputSink([&taken](pkfs::OutputStream stream, const std::string& text) {
    EXPECT_EQ(stream, pkfs::OutputStream::kOutput);
    taken += text;
  });
  testing::internal::CaptureStdout();
  timer.Report("x", &manager);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(taken, line);
}

TEST_F(ScopeTimerTest, ReportWithoutOutputWritesNothing) {
  pkfs::ScopeTimer timer("Decode");
  tick_ += 3;
  testing::internal::CaptureStdout();
  EXPECT_EQ(timer.Report("A.TXT 10", nullptr), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(timer.elapsed(), 3u);
}

TEST_F(ScopeTimerTest, ElapsedSurvivesTheTickWrapping) {
  tick_ = 0xFFFFFFF0u;
  pkfs::ScopeTimer timer("Encode");
  tick_ = 0x10;
  EXPECT_EQ(timer.FormatLine(""), "2010/02/09 8:5:3 Encode  Cost Time is 32\n");
}

TEST_F(ScopeTimerTest, LongTextsAreNotCut) {
  pkfs::ScopeTimer timer("OnWriteBuffer");
  const std::string text(3000, 'n');
  const std::string line = timer.FormatLine(text);
  EXPECT_EQ(line, "2010/02/09 8:5:3 OnWriteBuffer " + text + " Cost Time is 0\n");
}

}  // namespace

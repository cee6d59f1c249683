#include "launcher/run_log.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/clock.h"
#include "test_support.h"

namespace launcher {
namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const platform::LocalTime kFebruaryNinth{2010, 2, 9, 8, 5, 3};

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLocalTimeSourceForTesting([] { return kFebruaryNinth; });
  }
  void TearDown() override { platform::SetLocalTimeSourceForTesting(nullptr); }
  TempDir dir_;
};

TEST(FormatLogLineTest, NumbersWithoutLeadingZerosAndTabs) {
  EXPECT_EQ(FormatLogLine(kFebruaryNinth, "Create ShareFile!!!"),
            "2010-2-9\t8:5:3\tCreate ShareFile!!!\n");
  EXPECT_EQ(FormatLogLine({1999, 12, 31, 23, 59, 60}, ""), "1999-12-31\t23:59:60\t\n");
  // The widest numbers a clock could give still fit whole.
  const int m = INT_MIN;
  EXPECT_EQ(FormatLogLine({m, m, m, m, m, m}, "x"),
            "-2147483648--2147483648--2147483648\t-2147483648:-2147483648:-2147483648\tx\n");
}

TEST(FormatLogLineTest, TextEndingInALineFeedLeavesAnEmptyLine) {
  EXPECT_EQ(FormatLogLine(kFebruaryNinth, "C:/data\\a.txt size=12\n"),
            "2010-2-9\t8:5:3\tC:/data\\a.txt size=12\n\n");
}

TEST(FormatLogLineTest, TextEndsAtItsFirstNulByte) {
  EXPECT_EQ(FormatLogLine(kFebruaryNinth, std::string("ab\0cd", 5)), "2010-2-9\t8:5:3\tab\n");
}

TEST_F(RunLogTest, AppendsOneLinePerCallWithTheLocalTime) {
  RunLog log;
  log.setFileName(dir_.Join("run.log"));
  log.write("Create ShareFile!!!");
  EXPECT_EQ(ReadFile(dir_.Join("run.log")), "2010-2-9\t8:5:3\tCreate ShareFile!!!\n");
  log.write("Open ShareFile!!!");
  EXPECT_EQ(ReadFile(dir_.Join("run.log")),
            "2010-2-9\t8:5:3\tCreate ShareFile!!!\n2010-2-9\t8:5:3\tOpen ShareFile!!!\n");
}

TEST_F(RunLogTest, ExistingContentIsKept) {
  WriteFile(dir_.Join("run.log"), "earlier run\r\n");
  RunLog log;
  log.setFileName(dir_.Join("run.log"));
  log.write("Open ShareFile!!!");
  EXPECT_EQ(ReadFile(dir_.Join("run.log")), "earlier run\r\n2010-2-9\t8:5:3\tOpen ShareFile!!!\n");
}

TEST_F(RunLogTest, WithoutAFileNameNothingIsWritten) {
  testing_support::ScopedCurrentDirectory cwd(dir_.path());
  RunLog log;
  log.write("Create ShareFile!!!");
  EXPECT_TRUE(ReadFile(dir_.Join("run.log")).empty());
  log.setFileName(dir_.Join("run.log"));
  log.reset();
  log.write("Create ShareFile!!!");
  EXPECT_FALSE(FileExists(dir_.Join("run.log")));
}

TEST_F(RunLogTest, UnopenableLogDropsLinesAndSaysSoOnce) {
  RunLog log;
  log.setFileName(dir_.Join("no-such-dir/run.log"));
  ::testing::internal::CaptureStderr();
  log.write("first");
  log.write("second");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no-such-dir/run.log"), std::string::npos) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << "reported more than once: " << err;
  EXPECT_FALSE(FileExists(dir_.Join("no-such-dir")));
}

}  // namespace
}  // namespace launcher

// The share file block across launcher processes: the test process plays the
// part of a launcher that still holds the block while others start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "platform/shared_memory.h"
#include "test_support.h"

namespace {

using platform::NamedSharedMemory;
using testing_support::MakeDirs;
using testing_support::MarovetinBinary;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;

const char kStamp[] = R"(\d{4}-\d{1,2}-\d{1,2}\t\d{1,2}:\d{1,2}:\d{1,2}\t)";

class LauncherShareBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    shmName_ = std::string("marovetin-e2e-") + std::to_string(::getpid()) + "-" +
               info->test_suite_name() + "-" + info->name();
    // The same name for the block this process holds and for the launchers.
    ::setenv("MAROVETIN_SHM_NAME", shmName_.c_str(), 1);
  }
  void TearDown() override {
    held_.reset();
    ::unsetenv("MAROVETIN_SHM_NAME");
  }

  // Update runs work on an empty "incoming" directory, so that the update
  // itself adds nothing to the log.
  RunResult run(const std::vector<std::string>& args) {
    return RunProgram(MarovetinBinary(), args, dir_.path(), {"MAROVETIN_SHM_NAME=" + shmName_});
  }

  // Takes hold of the block as a running launcher would.
  NamedSharedMemory::Origin hold() {
    NamedSharedMemory::Origin origin = NamedSharedMemory::Origin::kOpened;
    std::string error;
    held_ = NamedSharedMemory::OpenOrCreate("Marovetin", 8, &origin, &error);
    EXPECT_NE(held_, nullptr) << error;
    return origin;
  }

  std::int32_t word(int index) const {
    std::int32_t value = -1;
    if (held_ != nullptr) {
      std::memcpy(&value, static_cast<const unsigned char*>(held_->data()) + 4 * index, 4);
    }
    return value;
  }
  std::int32_t handoverState() const { return word(0); }
  std::int32_t runCounter() const { return word(1); }

  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    const std::string text = ReadFile(dir_.Join("run.log"));
    std::size_t start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  std::string shmName_;
  std::unique_ptr<NamedSharedMemory> held_;
  TempDir dir_;
};

TEST_F(LauncherShareBlockTest, FirstLauncherCreatesTheBlockAndLogsIt) {
  RunResult result = run({"-log", "run.log", "-all", "-sw", "incoming"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const std::string log = ReadFile(dir_.Join("run.log"));
  EXPECT_TRUE(
      std::regex_search(log, std::regex(std::string("^") + kStamp + "Create ShareFile!!!\n")))
      << log;
}

TEST_F(LauncherShareBlockTest, UtilityRunOpensAHeldBlockAndOnlyCounts) {
  MakeDirs(dir_.Join("UpdateSetting"));
  ASSERT_EQ(hold(), NamedSharedMemory::Origin::kCreated);
  ASSERT_EQ(runCounter(), 0);

  RunResult result = run({"-log", "run.log", "-sv", "5"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(runCounter(), 1);
  EXPECT_EQ(handoverState(), 0);
  const std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(kStamp + std::string("Open ShareFile!!!"))))
      << lines[0];
}

TEST_F(LauncherShareBlockTest, UpdateRunCountsOnOpeningAndAfterItsUpdate) {
  ASSERT_EQ(hold(), NamedSharedMemory::Origin::kCreated);

  RunResult result = run({"-log", "run.log", "-all", "-sw", "incoming"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(runCounter(), 2);
  EXPECT_EQ(handoverState(), 2);

  // An argument that matches no option is ignored: still an update run.
  result = run({"-log", "run.log", "-sw", "incoming", "-nothing"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(runCounter(), 4);
  EXPECT_EQ(handoverState(), 2);
  const std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, std::regex(kStamp + std::string("Open ShareFile!!!"))))
        << line;
  }
}

TEST_F(LauncherShareBlockTest, BlockIsCreatedAfreshOnceEveryHolderHasEnded) {
  ASSERT_EQ(hold(), NamedSharedMemory::Origin::kCreated);
  run({"-all", "-sw", "incoming"});
  ASSERT_EQ(runCounter(), 2);
  held_.reset();

  RunResult result = run({"-log", "run.log", "-all", "-sw", "incoming"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tCreate ShareFile!!!"), std::string::npos) << lines[0];

  // Nobody holds it now either: the next holder finds a fresh block.
  ASSERT_EQ(hold(), NamedSharedMemory::Origin::kCreated);
  EXPECT_EQ(runCounter(), 0);
  EXPECT_EQ(handoverState(), 0);
}

TEST_F(LauncherShareBlockTest, RunWithoutArgumentsLeavesTheBlockAlone) {
  ASSERT_EQ(hold(), NamedSharedMemory::Origin::kCreated);
  RunResult result = run({});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(runCounter(), 0);
  EXPECT_EQ(handoverState(), 0);
}

}  // namespace

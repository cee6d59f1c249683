// The built launcher's command line and utility modes, run as a process in a
// temporary installation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::MarovetinBinary;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;

class LauncherModesTest : public ::testing::Test {
 protected:
  RunResult run(const std::vector<std::string>& args) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string shm = std::string("marovetin-e2e-") + std::to_string(::getpid()) + "-" +
                            info->test_suite_name() + "-" + info->name();
    return RunProgram(MarovetinBinary(), args, dir_.path(), {"MAROVETIN_SHM_NAME=" + shm});
  }
  TempDir dir_;
};

TEST_F(LauncherModesTest, SetUpdateIndexWritesTheNumber) {
  MakeDirs(dir_.Join("UpdateSetting"));
  RunResult result = run({"-sv", "0012"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(dir_.Join("UpdateSetting/UpdateIndex.dat")), std::string("\x0C\0\0\0", 4));
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST_F(LauncherModesTest, SetUpdateIndexWithoutItsDirectoryFails) {
  RunResult result = run({"-sv", "5"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("UpdateSetting/UpdateIndex.dat"), std::string::npos) << result.err;
  EXPECT_FALSE(FileExists(dir_.Join("UpdateSetting")));
}

TEST_F(LauncherModesTest, BinaryToTextWritesDecimalText) {
  WriteFile(dir_.Join("in"), "\xFF\xFF\xFF\xFF");
  RunResult result = run({"-mbts", "in", "out"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(dir_.Join("out")), "-1");

  WriteFile(dir_.Join("more"), std::string("\x02\x01\x00\x00\x09", 5));
  result = run({"-MBTS", "more", "out"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(ReadFile(dir_.Join("out")), "258");
}

TEST_F(LauncherModesTest, BinaryToTextWithoutSourceWritesNothing) {
  RunResult result = run({"-mbts", "absent", "out"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("absent"), std::string::npos) << result.err;
  EXPECT_FALSE(FileExists(dir_.Join("out")));
}

TEST_F(LauncherModesTest, MissingValueExitsWith64AndCreatesNothing) {
  for (std::vector<std::string> args : {std::vector<std::string>{"-log", "run.log", "-sw"},
                                        {"-log", "run.log", "-mbts", "in"},
                                        {"-v", "-log"}}) {
    RunResult result = run(args);
    EXPECT_EQ(result.exitStatus, 64);
    EXPECT_NE(result.err.find("needs"), std::string::npos) << result.err;
    EXPECT_FALSE(FileExists(dir_.Join("run.log")));
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(LauncherModesTest, HelpAndVersionPrintAndTouchNothing) {
  RunResult help = run({"--help", "-log", "run.log"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("-mbts SOURCE TARGET"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("64"), std::string::npos);

  RunResult version = run({"-log", "run.log", "--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("marovetin ", 0), 0u) << version.out;
  EXPECT_FALSE(FileExists(dir_.Join("run.log")));
}

TEST_F(LauncherModesTest, NoArgumentsExitsSilently) {
  RunResult result = run({});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST_F(LauncherModesTest, UpdateRunPrintsTheWorkPathAndRemovesLauncherCopies) {
  WriteFile(dir_.Join("marovetin.bak"), "x");
  WriteFile(dir_.Join("marovetin.bin"), "y");
  RunResult result = run({"-sw", "incoming"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  const std::string here = std::filesystem::canonical(dir_.path()).string();
  EXPECT_EQ(result.out.substr(0, result.out.find('\n') + 1), here + "/incoming\n") << result.out;
  EXPECT_FALSE(FileExists(dir_.Join("marovetin.bak")));
  EXPECT_FALSE(FileExists(dir_.Join("marovetin.bin")));
}

TEST_F(LauncherModesTest, VersionCheckOnlyWithTheOption) {
  // "-v" alone: the update is gated, and with no Patch.dat the gate refuses.
  RunResult gated = run({"-v"});
  EXPECT_EQ(gated.exitStatus, 2) << gated.err;
  // An argument that matches no option: the update runs, ungated.
  RunResult ungated = run({"-nothing"});
  EXPECT_EQ(ungated.exitStatus, 0) << ungated.err;
  const std::string here = std::filesystem::canonical(dir_.path()).string();
  EXPECT_EQ(ungated.out.substr(0, ungated.out.find('\n') + 1), here + "\n") << ungated.out;
}

}  // namespace

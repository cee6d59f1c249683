#include "launcher/launcher_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/share_file_block.h"
#include "launcher/usage.h"
#include "platform/clock.h"
#include "test_support.h"

namespace launcher {
namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::ScopedCurrentDirectory;
using testing_support::TempDir;
using testing_support::WriteFile;

// Every test gets its own share block, so that tests (and suites running in
// parallel) never see each other's counters.
class LauncherAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string("marovetin-unit-") + std::to_string(::getpid()) + "-" +
                             info->test_suite_name() + "-" + info->name();
    ::setenv("MAROVETIN_SHM_NAME", name.c_str(), 1);
    platform::SetLocalTimeSourceForTesting([] { return platform::LocalTime{2010, 2, 9, 8, 5, 3}; });
  }
  void TearDown() override {
    platform::SetLocalTimeSourceForTesting(nullptr);
    ::unsetenv("MAROVETIN_SHM_NAME");
  }

  // Runs start-up and exit in the temporary directory; returns the exit status.
  int run(LauncherApp& app, std::vector<const char*> args) {
    ScopedCurrentDirectory cwd(dir_.path());
    args.insert(args.begin(), "marovetin");
    EXPECT_FALSE(app.InitInstance(static_cast<int>(args.size()), args.data()));
    return app.ExitInstance();
  }

  TempDir dir_;
};

TEST_F(LauncherAppTest, ProgramPathAloneTouchesNothing) {
  LauncherApp app;
  EXPECT_EQ(run(app, {}), 0);
  EXPECT_FALSE(app.shareFile().attached());
  EXPECT_TRUE(app.currentDir().empty());
  EXPECT_EQ(app.packName(), "DATA.pak");
}

TEST_F(LauncherAppTest, PayloadLoaderLivesFromStartUpToExit) {
  LauncherApp app;
  ScopedCurrentDirectory cwd(dir_.path());
  const char* args[] = {"marovetin"};
  app.InitInstance(1, args);
  ASSERT_NE(app.payloadLoader(), nullptr);
  EXPECT_EQ(thePayloadLoader, app.payloadLoader());
  app.ExitInstance();
  EXPECT_EQ(app.payloadLoader(), nullptr);
  EXPECT_EQ(thePayloadLoader, nullptr);
  std::vector<unsigned char> buffer;
  EXPECT_EQ(app.loadFile(dir_.Join("anything"), buffer), -1);
}

TEST_F(LauncherAppTest, MissingValueIsRefusedBeforeAnythingIsTouched) {
  for (std::vector<const char*> args : {std::vector<const char*>{"-v", "-log"},
                                        {"-log", "run.log", "-sw"},
                                        {"-mbts", "in"},
                                        {"-log", "run.log", "-sv"}}) {
    LauncherApp app;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(run(app, args), kExitUsage);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("option -"), std::string::npos) << err;
    EXPECT_FALSE(app.shareFile().attached());
    EXPECT_FALSE(FileExists(dir_.Join("run.log")));
  }
}

TEST_F(LauncherAppTest, HelpAndVersionTouchNothing) {
  for (const char* request : {"--help", "--version"}) {
    LauncherApp app;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run(app, {"-log", "run.log", request}), 0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("marovetin"), std::string::npos);
    EXPECT_FALSE(app.shareFile().attached());
    EXPECT_FALSE(FileExists(dir_.Join("run.log")));
  }
}

TEST_F(LauncherAppTest, HelpListsEveryOptionAndExitStatus) {
  const std::string help = HelpText();
  for (int r = 0; r < OptionTable::kRowCount; ++r) {
    EXPECT_NE(help.find(std::string("  ") + OptionTable::row(r).text + " "), std::string::npos)
        << OptionTable::row(r).text;
  }
  for (const char* status : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  64 "}) {
    EXPECT_NE(help.find(status), std::string::npos) << status;
  }
}

TEST_F(LauncherAppTest, LogValueThatIsAnOptionCountsBoth) {
  LauncherApp app;
  ::testing::internal::CaptureStdout();
  run(app, {"-log", "-v", "-sw", "incoming"});
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(app.logFileName(), "-v");
  EXPECT_TRUE(app.checkVersion());
  EXPECT_FALSE(app.deleteSources());
  const std::string log = ReadFile(dir_.Join("-v"));
  EXPECT_EQ(log.substr(0, log.find('\n') + 1), "2010-2-9\t8:5:3\tCreate ShareFile!!!\n");
}

TEST_F(LauncherAppTest, OptionsFixPathsAndLoaderFlags) {
  LauncherApp app;
  ::testing::internal::CaptureStdout();
  run(app, {"-DE", "-dc", "-sp", "a.pak", "-SP", "b.pak", "-df", "-sw", "upd\\\\new\\x"});
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string here = app.currentDir();
  EXPECT_FALSE(here.empty());
  EXPECT_EQ(app.packName(), "b.pak");
  EXPECT_TRUE(app.deleteSources());
  EXPECT_FALSE(app.checkVersion());
  // Printed as formed, then normalised for the update.
  EXPECT_EQ(out.substr(0, out.find('\n')), here + "/upd\\\\new\\x");
  std::string normalHere = here;  // Windows gives "C:\\dir", normalised like the rest
  for (char& c : normalHere) {
    if (c == '\\') c = '/';
  }
  EXPECT_EQ(app.workPath(), normalHere + "/upd/new/x");
}

TEST_F(LauncherAppTest, LoaderFlagsFollowTheOptions) {
  LauncherApp app;
  ScopedCurrentDirectory cwd(dir_.path());
  ::testing::internal::CaptureStdout();
  const char* args[] = {"marovetin", "-de", "-dc", "-sw", "incoming"};
  app.InitInstance(5, args);
  ::testing::internal::GetCapturedStdout();
  ASSERT_NE(app.payloadLoader(), nullptr);
  EXPECT_TRUE(app.payloadLoader()->invertBytes());
  EXPECT_TRUE(app.payloadLoader()->readBzip2());
  app.ExitInstance();
}

TEST_F(LauncherAppTest, UpdateRunRemovesLauncherCopies) {
  WriteFile(dir_.Join("marovetin.bak"), "old");
  WriteFile(dir_.Join("marovetin.bin"), "new");
  LauncherApp app;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(run(app, {"-all", "-sw", "incoming"}), 0);
  ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(FileExists(dir_.Join("marovetin.bak")));
  EXPECT_FALSE(FileExists(dir_.Join("marovetin.bin")));
}

TEST_F(LauncherAppTest, UpdateRunTakesPartInTheHandover) {
  LauncherApp app;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(run(app, {"-log", "run.log", "-sw", "incoming"}), 0);
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(app.shareFile().attached());
  EXPECT_EQ(app.savedCounter(), 0);
  EXPECT_EQ(app.shareFile().handoverState(), 2);
  EXPECT_EQ(app.shareFile().runCounter(), 1);
  EXPECT_EQ(ReadFile(dir_.Join("run.log")), "2010-2-9\t8:5:3\tCreate ShareFile!!!\n");
}

TEST_F(LauncherAppTest, ConversionWinsOverTheUpdateIndex) {
  testing_support::MakeDirs(dir_.Join("UpdateSetting"));
  WriteFile(dir_.Join("in"), std::string("\x05\x00\x00\x00", 4));
  LauncherApp app;
  EXPECT_EQ(run(app, {"-sv", "9", "-mbts", "in", "out"}), 0);
  EXPECT_EQ(ReadFile(dir_.Join("out")), "5");
  EXPECT_FALSE(FileExists(dir_.Join("UpdateSetting/UpdateIndex.dat")));
  // A utility mode registers in the block but takes no part in the hand-over.
  EXPECT_TRUE(app.shareFile().attached());
  EXPECT_EQ(app.shareFile().handoverState(), 0);
  EXPECT_EQ(app.shareFile().runCounter(), 0);
}

TEST_F(LauncherAppTest, UtilityFailuresExitWithOne) {
  LauncherApp app;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(run(app, {"-sv", "5"}), kExitFilesKeptBack);
  EXPECT_EQ(run(app, {"-mbts", "absent", "out"}), kExitFilesKeptBack);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("UpdateSetting/UpdateIndex.dat"), std::string::npos) << err;
  EXPECT_NE(err.find("absent"), std::string::npos) << err;
  EXPECT_FALSE(FileExists(dir_.Join("UpdateSetting")));
  EXPECT_FALSE(FileExists(dir_.Join("out")));
}

TEST_F(LauncherAppTest, ResetRestoresTheDefaults) {
  LauncherApp app;
  ::testing::internal::CaptureStdout();
  run(app, {"-sp", "x.pak", "-log", "run.log", "-sw", "incoming"});
  ::testing::internal::GetCapturedStdout();
  app.reset();
  EXPECT_EQ(app.packName(), "DATA.pak");
  EXPECT_TRUE(app.workPath().empty());
  EXPECT_TRUE(app.logFileName().empty());
  EXPECT_FALSE(app.shareFile().attached());
  EXPECT_EQ(app.exitStatus(), 0);
}

TEST_F(LauncherAppTest, NothingOfAnEarlierRunCarriesOver) {
  LauncherApp app;
  ::testing::internal::CaptureStdout();
  run(app, {"-sp", "x.pak", "-log", "run.log", "-sw", "incoming"});
  run(app, {"-sw", "incoming"});
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(app.packName(), "DATA.pak");
  EXPECT_TRUE(app.logFileName().empty());
  EXPECT_EQ(ReadFile(dir_.Join("run.log")), "2010-2-9\t8:5:3\tCreate ShareFile!!!\n");
}

TEST_F(LauncherAppTest, HandoverWithoutABlockStillRunsTheUpdate) {
  ShareFileLink link;
  std::int32_t saved = -5;
  int runs = 0;
  RunUpdateHandover(link, &saved, [&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(saved, -5);
}

TEST_F(LauncherAppTest, HandoverMarksTheBlockDuringTheUpdate) {
  ShareFileLink link;
  std::string error;
  ASSERT_EQ(link.openOrCreate(&error), ShareFileLink::Attach::kCreated) << error;
  std::int32_t saved = -1;
  std::int32_t stateDuringUpdate = -1;
  RunUpdateHandover(link, &saved, [&] { stateDuringUpdate = link.handoverState(); });
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(stateDuringUpdate, 2);
  EXPECT_EQ(link.runCounter(), 1);
}

}  // namespace
}  // namespace launcher

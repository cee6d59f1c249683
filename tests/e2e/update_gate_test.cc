// The version gate of the built updater ("-v").
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "test_support.h"
#include "update_e2e_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;
using update_e2e::RunUpdater;

std::string Le32(std::uint32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return bytes;
}

using update_e2e::TreeSnapshot;

class UpdateGateTest : public ::testing::Test {
 protected:
  UpdateGateTest() {
    // An installation that already has a pack, and a delivered update.
    WriteFile(dir_.Join("update/Pak/first.txt"), "first");
    EXPECT_EQ(RunUpdater(dir_.path(), {"-sw", "update", "-df"}).exitStatus, 0);
    WriteFile(dir_.Join("Patch.dat"), Le32(5) + Le32(9));
    WriteFile(dir_.Join("update/Pak/sub/a.txt"), "pack");
    WriteFile(dir_.Join("update/readme.txt"), "loose");
    WriteFile(dir_.Join("readme.txt"), "installed");
  }
  TempDir dir_;
};

TEST_F(UpdateGateTest, TooOldClientIsRefusedWithStatusTwoAndNothingChanges) {
  WriteFile(dir_.Join("UpdateSetting/UpdateIndex.dat"), Le32(4));
  const auto before = TreeSnapshot(dir_.path());
  RunResult r = RunUpdater(dir_.path(), {"-v", "-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err,
            "marovetin: The client is too old, please download an appropriate file to update.\n");
  EXPECT_NE(r.out.find("CheckVersion!\n"), std::string::npos);
  EXPECT_EQ(r.out.find("WM_FINDADDDATAINPAKFILE"), std::string::npos);
  EXPECT_EQ(TreeSnapshot(dir_.path()), before);
}

TEST(UpdateGateFreshInstallTest, RefusalLeavesNoPackVolumeBehind) {
  // No pack yet: the mount at dialog start has to create DATA.pak, and a
  // refusal takes it back.
  TempDir dir;
  WriteFile(dir.Join("Patch.dat"), Le32(5) + Le32(9));
  WriteFile(dir.Join("UpdateSetting/UpdateIndex.dat"), Le32(1));
  WriteFile(dir.Join("update/Pak/a.txt"), "pack");
  const auto before = TreeSnapshot(dir.path());
  RunResult r = RunUpdater(dir.path(), {"-v", "-sw", "update"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_FALSE(FileExists(dir.Join("DATA.pak")));
  EXPECT_EQ(TreeSnapshot(dir.path()), before);
}

TEST_F(UpdateGateTest, IndexSetWithTheUtilityModeLetsTheUpdateRun) {
  MakeDirs(dir_.Join("UpdateSetting"));
  ASSERT_EQ(RunUpdater(dir_.path(), {"-sv", "5"}).exitStatus, 0);
  RunResult r = RunUpdater(dir_.path(), {"-v", "-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.Join("readme.txt")), "loose");
  update_e2e::PackReader pack(dir_.path());
  EXPECT_EQ(pack.Read("SUB/A.TXT"), "pack");
  EXPECT_EQ(pack.Read("FIRST.TXT"), "first");
}

TEST_F(UpdateGateTest, MissingPatchRefuses) {
  WriteFile(dir_.Join("UpdateSetting/UpdateIndex.dat"), Le32(100));
  fs::remove(dir_.Join("Patch.dat"));
  RunResult r = RunUpdater(dir_.path(), {"-v", "-sw", "update"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err.find("marovetin: Can't Find Patch.dat\n"), 0u) << r.err;
  EXPECT_EQ(ReadFile(dir_.Join("readme.txt")), "installed");
}

TEST_F(UpdateGateTest, WithoutTheOptionNeitherFileMatters) {
  fs::remove(dir_.Join("Patch.dat"));
  RunResult r = RunUpdater(dir_.path(), {"-sw", "update"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.find("CheckVersion!"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_.Join("readme.txt")), "loose");
}

}  // namespace

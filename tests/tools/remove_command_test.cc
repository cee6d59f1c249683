// pkfs rm takes every name out in one commit: two data syncs per volume it
// changes, however many names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../pkfs/pack_fixture.h"
#include "pkfstool/commands.h"
#include "platform/random_access_file.h"

namespace pkfs_test {
namespace {

class RemoveCommandTest : public PackFixture {
 protected:
  RemoveCommandTest() { filtered_ = true; }
  ~RemoveCommandTest() override { faults_.onSync = nullptr; }
};

TEST_F(RemoveCommandTest, FiftyNamesFromTwoVolumesCostAtMostFourSyncs) {
  sizeLimit_ = 4000;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount());
  fs_->BeginBatch();
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(Add("f" + std::to_string(i) + ".bin", Pattern(100, i)));
  ASSERT_TRUE(fs_->CommitBatch().ok());
  ASSERT_EQ(fs_->archives().size(), 2u);
  Stop();
  testing::internal::GetCapturedStdout();

  std::vector<std::string> arguments = {"pkfs", "rm", "DATA.pak"};
  for (int i = 0; i < 50; ++i) arguments.push_back("F" + std::to_string(i) + ".BIN");
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  int syncs = 0;
  faults_.onSync = [&syncs](const std::string&) {
    ++syncs;
    return platform::Status::Ok();
  };
  EXPECT_EQ(pkfstool::RunTool(static_cast<int>(argv.size()), argv.data(), env_), 0);
  faults_.onSync = nullptr;
  EXPECT_LE(syncs, 4);
  EXPECT_GT(syncs, 0);

  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  testing::internal::GetCapturedStdout();
  const auto left = Snapshot();
  EXPECT_EQ(left.size(), 10u);
  for (int i = 50; i < 60; ++i) {
    EXPECT_EQ(left.at("F" + std::to_string(i) + ".BIN"), Pattern(100, i));
  }
}

TEST_F(RemoveCommandTest, AFailedCommitRemovesNothingAndNamesEachName) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("a.bin", Pattern(100, 1)));
  ASSERT_TRUE(Add("b.bin", Pattern(100, 2)));
  Stop();
  testing::internal::GetCapturedStdout();
  faults_.onSync = [](const std::string& path) {
    return platform::Status::FromErrno(5, path);
  };
  const char* argv[] = {"pkfs", "rm", "DATA.pak", "a.bin", "missing.bin", "B.BIN"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(pkfstool::RunTool(6, argv, env_), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  faults_.onSync = nullptr;
  EXPECT_NE(err.find("missing.bin: not stored in DATA.pak"), std::string::npos) << err;
  EXPECT_NE(err.find("a.bin: could not be removed: "), std::string::npos) << err;
  EXPECT_NE(err.find("B.BIN: could not be removed: "), std::string::npos) << err;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Snapshot().size(), 2u);
}

}  // namespace
}  // namespace pkfs_test

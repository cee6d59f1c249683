// A first volume that exists but cannot be used: the run says why, creates
// no volume in its place and keeps every pack file back; a volume held by
// another process past MAROVETIN_LOCK_TIMEOUT stops the run with nothing
// changed.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "lock_holder.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;

using update_e2e::TreeSnapshot;

class PackRefusalTest : public update_e2e::InstallationTest {
 protected:
  PackRefusalTest() {
    WriteFile(In("DATA.pak"), "text, not a pack volume");
    WriteFile(Delivered("Pak/a.bin"), "pack bytes");
    WriteFile(Delivered("loose.txt"), "loose bytes");
  }
};

TEST_F(PackRefusalTest, AnUnloadableFirstVolumeKeepsPackFilesBackWithTheReason) {
  RunResult r = update_e2e::RunUpdater(install(), {"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("marovetin: DATA.pak cannot be loaded (not a pack volume); pack update "
                       "files are kept back\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("kept back " + update() +
                       "/Pak/a.bin: could not be stored in the pack: DATA.pak: not a pack volume"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(In("DATA.pak")), "text, not a pack volume");
  EXPECT_FALSE(FileExists(In("Data1.pak")));
  EXPECT_EQ(ReadFile(Delivered("Pak/a.bin")), "pack bytes");
  EXPECT_EQ(ReadFile(In("loose.txt")), "loose bytes");  // loose files still go
}

TEST_F(PackRefusalTest, AVolumeLockedPastTheTimeoutStopsTheRunWithNothingChanged) {
  auto holder = std::make_unique<testing_support::ForeignLockHolder>(In("DATA.pak"));
  ASSERT_TRUE(holder->held());
  const auto before = TreeSnapshot(root_.path());

  const auto start = std::chrono::steady_clock::now();
  RunResult r = testing_support::RunProgram(
      testing_support::MarovetinBinary(), {"-sw", "update", "-df"}, install(),
      {"MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName(), "MAROVETIN_LOCK_TIMEOUT=2"});
  const auto waited = std::chrono::steady_clock::now() - start;
  holder.reset();

  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_NE(r.err.find("Waiting for DATA.pak"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("marovetin: DATA.pak: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("; nothing was updated\n"), std::string::npos) << r.err;
  EXPECT_LT(waited, std::chrono::seconds(30));  // the variable, not the 60 s default
  EXPECT_EQ(TreeSnapshot(root_.path()), before);
}

}  // namespace

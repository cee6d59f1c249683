// The power-loss simulation and the sync seams: what survives a crash, per
// sector, per file and per directory entry; and sync failures reported.
#include "power_loss.h"

#include <cerrno>
#include <set>
#include <string>

#include "gtest/gtest.h"
#include "fault_env.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "test_support.h"

namespace {

using testing_support::PowerLossEnv;
using platform::RandomAccessFile;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr std::size_t kSector = PowerLossEnv::kSectorBytes;

class PowerLossTest : public ::testing::Test {
 protected:
  std::unique_ptr<RandomAccessFile> Open(platform::Env& env, const std::string& name,
                                         RandomAccessFile::Mode mode) {
    std::unique_ptr<RandomAccessFile> file;
    env.OpenFile(dir_.Join(name), mode, &file);
    return file;
  }
  TempDir dir_;
};

TEST_F(PowerLossTest, EverySectorOfAnUnsyncedWriteIsOldOrNewAndSyncedWritesStay) {
  const std::string old(3 * kSector, 'o');
  WriteFile(dir_.Join("v"), old);
  PowerLossEnv disk;
  auto file = Open(disk, "v", RandomAccessFile::Mode::kReadWrite);
  ASSERT_EQ(file->WriteAt(0, std::string(kSector, 's').data(), kSector), kSector);
  ASSERT_TRUE(file->Sync().ok());
  // Spans sectors 1 and 2, starting inside 1, and grows the file by one sector.
  const std::string fresh(2 * kSector + 10, 'n');
  ASSERT_EQ(file->WriteAt(kSector + 5, fresh.data(), fresh.size()), fresh.size());
  EXPECT_EQ(disk.unsyncedWrites(), 1u);
  file.reset();

  std::set<std::string> outcomes;
  for (std::uint32_t seed = 0; seed < 64; ++seed) {
    disk.Crash(seed);
    const std::string found = ReadFile(dir_.Join("v"));
    ASSERT_GE(found.size(), old.size());
    EXPECT_EQ(found.substr(0, kSector), std::string(kSector, 's'));  // synced
    std::string pattern;
    for (std::size_t sector = 1; sector * kSector < found.size(); ++sector) {
      const std::string piece = found.substr(sector * kSector, kSector);
      // A sector is written whole or not at all.
      const bool isNew = piece.find('n') != std::string::npos;
      if (isNew) {
        EXPECT_EQ(piece.find('o'), sector == 1 ? 0u : std::string::npos);
      }
      pattern += isNew ? 'N' : 'O';
    }
    outcomes.insert(pattern);
  }
  EXPECT_GE(outcomes.size(), 3u);  // kept, lost and torn all occur
}

TEST_F(PowerLossTest, ANewFileSurvivesOnlyOnceItsDirectoryIsSynced) {
  int gone = 0;
  for (const bool syncDirectory : {false, true}) {
    PowerLossEnv disk;
    auto file = Open(disk, "new.pak", RandomAccessFile::Mode::kCreateReadWrite);
    ASSERT_EQ(file->WriteAt(0, "data", 4), 4u);
    ASSERT_TRUE(file->Sync().ok());
    if (syncDirectory) {
      ASSERT_TRUE(disk.SyncDirectory(dir_.path()).ok());
    }
    file.reset();
    for (std::uint32_t seed = 0; seed < 16; ++seed) {
      disk.Crash(seed);
      const bool present = platform::PathExists(dir_.Join("new.pak"));
      if (syncDirectory) {
        EXPECT_TRUE(present);
        EXPECT_EQ(ReadFile(dir_.Join("new.pak")), "data");
      }
      gone += present ? 0 : 1;
    }
    platform::Env::Default()->DeleteFile(dir_.Join("new.pak"));
  }
  EXPECT_GT(gone, 0);
}

TEST_F(PowerLossTest, NothingReachesTheDiskAfterTheStop) {
  WriteFile(dir_.Join("v"), "before");
  PowerLossEnv disk;
  disk.StopAtSync(2);
  auto file = Open(disk, "v", RandomAccessFile::Mode::kReadWrite);
  ASSERT_EQ(file->WriteAt(0, "first!", 6), 6u);
  ASSERT_TRUE(file->Sync().ok());
  EXPECT_FALSE(file->Sync().ok());
  EXPECT_TRUE(disk.stopped());
  EXPECT_EQ(file->WriteAt(0, "later!", 6), 0u);
  EXPECT_EQ(Open(disk, "other", RandomAccessFile::Mode::kCreateReadWrite), nullptr);
  file.reset();
  disk.Crash(7);
  EXPECT_EQ(ReadFile(dir_.Join("v")), "first!");
}

TEST_F(PowerLossTest, AFaultEnvFailsFileAndDirectorySyncsWithItsReason) {
  testing_support::FaultEnv faults;
  auto file = Open(faults, "v", RandomAccessFile::Mode::kCreateReadWrite);
  std::vector<std::string> seen;
  faults.onSync = [&seen](const std::string& path) {
    seen.push_back(path);
    return platform::Status::FromErrno(EIO, path);
  };
  const platform::Status status = file->Sync();
  EXPECT_EQ(status.ToString(), dir_.Join("v") + ": Input/output error");
  EXPECT_FALSE(faults.SyncDirectory(dir_.path()).ok());
  EXPECT_FALSE(faults.SyncFileSystemOf(dir_.path()).ok());
  EXPECT_EQ(seen.size(), 3u);
  faults.onSync = nullptr;
  EXPECT_TRUE(file->Sync().ok());
  // A refused write says why.
  faults.onWrite = [](const std::string&, std::uint64_t, std::size_t) {
    return testing_support::WriteDecision{testing_support::WriteDecision::kFail, 0, ENOSPC};
  };
  EXPECT_EQ(file->Write(0, "x", 1).ToString(), dir_.Join("v") + ": No space left on device");
}

}  // namespace

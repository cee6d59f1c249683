// Batches: what reaches the disk before and at a commit, how many syncs a
// commit takes, and that a commit failing at any write or sync leaves disk
// and memory as they were before the batch, with the reason.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <map>
#include <string>

#include "pack_fixture.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "power_loss.h"

namespace pkfs_test {
namespace {

using Files = std::map<std::string, Bytes>;

// Counts syncs and fails the fail-th one (0: none) with EIO.
class SyncCounter {
 public:
  explicit SyncCounter(testing_support::FaultEnv& env, int fail = 0) : env_(env) {
    env_.onSync = [this, fail](const std::string& path) {
      ++syncs;
      if (syncs == fail) return platform::Status::FromErrno(EIO, path);
      return platform::Status::Ok();
    };
  }
  ~SyncCounter() { env_.onSync = nullptr; }
  int syncs = 0;

 private:
  testing_support::FaultEnv& env_;
};

class PackBatchTest : public PackFixture {
 protected:
  PackBatchTest() { rules_ = {"txt"}; }

  Files Reloaded() {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(Mount("DATA.pak", /*create=*/false));
    testing::internal::GetCapturedStdout();
    ExpectListsMatchRebuild();
    return Snapshot();
  }

  // A set with a gap, a file in a second volume, and room to spill again.
  void Prepare() {
    sizeLimit_ = 4000;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Mount());
    ASSERT_TRUE(Add("keep.bin", Pattern(300, 1)));
    ASSERT_TRUE(Add("gone.txt", Pattern(200, 2)));
    ASSERT_TRUE(Add("late.bin", Pattern(3500, 3)));  // opens Data1.pak
    ASSERT_TRUE(fs_->RemoveFile("KEEP.BIN"));
    ASSERT_TRUE(Add("keep.bin", Pattern(300, 4)));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(fs_->archives().size(), 2u);
  }

  // Adds, replaces across volumes, removes and spills into a third volume.
  void ChangeEverything() {
    testing::internal::CaptureStdout();
    for (unsigned i = 0; i < 6; ++i) Add("new" + std::to_string(i) + ".txt", Pattern(700, 10 + i));
    Add("late.bin", Pattern(100, 20));
    Add("keep.bin", Pattern(50, 21));
    fs_->RemoveFile("GONE.TXT");
    testing::internal::GetCapturedStdout();
  }
};

TEST_F(PackBatchTest, NothingButDataReachesTheDiskBeforeTheCommit) {
  Prepare();
  const std::string primary = Disk("DATA.pak");
  const DiskDirectory before = ReadDirectory("DATA.pak");
  fs_->BeginBatch();
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Add("a.bin", Pattern(100, 30)));
  ASSERT_TRUE(Add("keep.bin", Pattern(120, 31)));  // replaced in memory
  ASSERT_TRUE(Add("b.bin", Pattern(300, 32)));
  testing::internal::GetCapturedStdout();
  // The replaced copy's place is not reused: the disk still names it.
  const pkfs::FileHead* oldKeep = nullptr;
  for (const pkfs::FileHead& head : before.heads) {
    if (head.name == "KEEP.BIN") oldKeep = &head;
  }
  ASSERT_NE(oldKeep, nullptr);
  for (const char* name : {"A.BIN", "KEEP.BIN", "B.BIN"}) {
    const pkfs::FileHead* head = manager_->FindName(name);
    ASSERT_NE(head, nullptr);
    EXPECT_TRUE(head->start + head->size <= oldKeep->start ||
                head->start >= oldKeep->start + oldKeep->size)
        << name;
  }
  EXPECT_EQ(Disk("DATA.pak").substr(0, 16), primary.substr(0, 16));
  EXPECT_EQ(StoredContent("KEEP.BIN"), Pattern(120, 31));  // memory has the batch

  SyncCounter counter(faults_);
  ASSERT_TRUE(fs_->CommitBatch().ok());
  EXPECT_EQ(counter.syncs, 2);  // data and table, then header
  EXPECT_FALSE(fs_->inBatch());
  ExpectListsMatchRebuild();
  const Files committed = Snapshot();
  EXPECT_EQ(Reloaded(), committed);
  EXPECT_EQ(committed.at("KEEP.BIN"), Pattern(120, 31));
}

TEST_F(PackBatchTest, ABatchLeftWithoutACommitLeavesDiskAndMemoryAsBefore) {
  // Abandoned outright, or by a scope that returns early: never committed.
  const std::map<std::string, std::function<void(pkfs::CPKFSF*)>> ways = {
      {"AbandonBatch",
       [this](pkfs::CPKFSF* fs) {
         fs->BeginBatch();
         ChangeEverything();
         fs->AbandonBatch();
       }},
      {"BatchScope without Finish",
       [this](pkfs::CPKFSF* fs) {
         pkfs::BatchScope scope(fs);
         ChangeEverything();
       }},
  };
  const Volumes empty = SaveVolumes();
  for (const auto& way : ways) {
    SCOPED_TRACE(way.first);
    Prepare();
    const std::string primary = Disk("DATA.pak");
    const std::string second = Disk("Data1.pak");
    const Files before = Snapshot();
    way.second(fs_);
    EXPECT_FALSE(fs_->inBatch());
    EXPECT_EQ(fs_->archives().size(), 2u);
    EXPECT_FALSE(platform::PathExists(dir_.Join("Data2.pak")));  // the spill's volume is gone again
    EXPECT_EQ(Snapshot(), before);
    ExpectListsMatchRebuild();
    // The directories on disk never changed; only free places took data.
    EXPECT_EQ(Disk("DATA.pak").substr(0, 16), primary.substr(0, 16));
    EXPECT_EQ(Disk("Data1.pak").substr(0, 16), second.substr(0, 16));
    EXPECT_EQ(Reloaded(), before);
    Stop();
    RestoreVolumes(empty);
  }
}

TEST_F(PackBatchTest, AHundredAddsCommitWithTwoSyncs) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount());
  SyncCounter counter(faults_);
  fs_->BeginBatch();
  for (unsigned i = 0; i < 100; ++i) ASSERT_TRUE(Add(std::to_string(i), Pattern(64, i)));
  EXPECT_EQ(counter.syncs, 0);
  EXPECT_TRUE(fs_->CommitBatch().ok());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(counter.syncs, 2);
  EXPECT_EQ(Reloaded().size(), 100u);
}

TEST_F(PackBatchTest, ACommitFailingAtAnyWriteOrSyncLeavesDiskAndMemoryAsBefore) {
  Prepare();
  Stop();
  const std::map<std::string, std::string> volumes = {{"DATA.pak", Disk("DATA.pak")},
                                                      {"Data1.pak", Disk("Data1.pak")}};
  const Files before = Reloaded();

  // How many directory writes and syncs the commit makes when all goes well,
  // and in which order tables ("T") and headers ("H") come.
  int writes = 0, syncs = 0;
  std::string order;
  {
    SyncCounter counter(faults_);
    faults_.onWrite = [&writes, &order](const std::string&, std::uint64_t offset, std::size_t) {
      ++writes;
      order += offset == 0 ? 'H' : 'T';
      return testing_support::WriteDecision{};
    };
    fs_->BeginBatch();
    ChangeEverything();
    writes = 0;
    order.clear();
    counter.syncs = 0;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(fs_->CommitBatch().ok());
    testing::internal::GetCapturedStdout();
    faults_.onWrite = nullptr;
    syncs = counter.syncs;
  }
  ASSERT_EQ(fs_->archives().size(), 3u);
  const Files after = Snapshot();
  ASSERT_NE(after, before);
  ASSERT_GT(writes, 0);
  ASSERT_GT(syncs, 0);
  // Every table of a pass is written before the first header of it, so that
  // a table that cannot be written changes no header: here the three
  // volumes' directories, then the removal deferred in the first volume.
  EXPECT_EQ(order, "TTTHHHTH");

  auto restore = [&] {
    Stop();
    platform::Env::Default()->DeleteFile(dir_.Join("Data2.pak"));
    for (const auto& volume : volumes)
      testing_support::WriteFile(dir_.Join(volume.first), volume.second);
    ASSERT_EQ(Reloaded(), before);
  };
  auto expectBefore = [&](const platform::Status& status, const std::string& what) {
    EXPECT_FALSE(status.ok()) << what;
    EXPECT_TRUE(Snapshot() == before) << what;  // memory
    ExpectListsMatchRebuild();
    EXPECT_EQ(fs_->archives().size(), 2u) << what;
    EXPECT_FALSE(platform::PathExists(dir_.Join("Data2.pak"))) << what;
    EXPECT_TRUE(Reloaded() == before) << what;  // disk
  };
  for (int fail = 1; fail <= writes; ++fail) {
    restore();
    fs_->BeginBatch();
    ChangeEverything();
    int seen = 0;
    faults_.onWrite = 
        [&seen, fail](const std::string& path, std::uint64_t offset, std::size_t length) {
          testing_support::WriteDecision decision;
          // The disk is full from the fail-th write on: that write fails, and so
          // does every later one that needs new room.
          const bool grows = offset + length > testing_support::ReadFile(path).size();
          if (++seen == fail || (seen > fail && grows)) {
            decision = {testing_support::WriteDecision::kFail, 0, ENOSPC};
          }
          return decision;
        };
    testing::internal::CaptureStdout();
    const platform::Status status = fs_->CommitBatch();
    testing::internal::GetCapturedStdout();
    faults_.onWrite = nullptr;
    if (status.ok()) {
      // A header is rewritten in place: a second attempt needs no room.
      EXPECT_TRUE(Reloaded() == after) << "write " << fail;
      continue;
    }
    EXPECT_EQ(status.Reason(), "No space left on device") << "write " << fail;
    EXPECT_NE(status.context().find(".pak"), std::string::npos) << status.ToString();
    expectBefore(status, "write " + std::to_string(fail));
  }
  for (int fail = 1; fail <= syncs; ++fail) {
    restore();
    fs_->BeginBatch();
    ChangeEverything();
    SyncCounter counter(faults_, fail);
    testing::internal::CaptureStdout();
    const platform::Status status = fs_->CommitBatch();
    testing::internal::GetCapturedStdout();
    expectBefore(status, "sync " + std::to_string(fail));
  }
}

TEST_F(PackBatchTest, AnOperationOutsideABatchIsABatchOfItsOwn) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount());
  {
    faults_.onWrite = [](const std::string&, std::uint64_t offset, std::size_t) {
      testing_support::WriteDecision decision;
      if (offset == 0) decision.kind = testing_support::WriteDecision::kFail;  // every header
      return decision;
    };
    EXPECT_FALSE(Add("a.bin", Pattern(10, 40)));
    faults_.onWrite = nullptr;
  }
  EXPECT_FALSE(fs_->inBatch());
  EXPECT_EQ(manager_->FindName("A.BIN"), nullptr);
  ASSERT_TRUE(Add("b.bin", Pattern(10, 41)));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Reloaded().size(), 1u);
}

}  // namespace
}  // namespace pkfs_test

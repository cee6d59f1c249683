// The pack file system: mounting and creating volumes, the set operations,
// commands, open hooks, and two processes sharing one set.
#include "pkfs/pkfsf.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <thread>

#include "pack_fixture.h"
#include "pkfs/fs_file.h"
#include "platform/random_access_file.h"

namespace pkfs_test {
namespace {

class PkfsfTest : public PackFixture {};

TEST_F(PkfsfTest, MountFailsWithoutAVolumeAndCreateVolumeMakesOne) {
  EXPECT_FALSE(Mount("DATA.pak", /*create=*/false));
  EXPECT_TRUE(fs_->archives().empty());
  EXPECT_FALSE(testing_support::FileExists(dir_.Join("DATA.pak")));
  EXPECT_TRUE(manager_->CreateVolume("DATA.pak"));
  ASSERT_EQ(fs_->archives().size(), 1u);
  EXPECT_EQ(Disk("DATA.pak").size(), 32u);
}

TEST_F(PkfsfTest, AScratchVolumeLeftByAStopIsNeverLoadedAndGoesAtTheNextLoad) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("kept", Pattern(40, 1)));
  Stop();
  // Whole volumes under the scratch names of the first and the next volume,
  // as a stop just before their rename leaves them.
  testing_support::WriteFile(dir_.Join("DATA.pak.pkfs-new"), Disk("DATA.pak"));
  testing_support::WriteFile(dir_.Join("Data1.pak.pkfs-new"), Disk("DATA.pak"));
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Load DATA.pak to Pkfs\n");
  EXPECT_EQ(fs_->archives().size(), 1u);
  EXPECT_FALSE(testing_support::FileExists(dir_.Join("DATA.pak.pkfs-new")));
  EXPECT_FALSE(testing_support::FileExists(dir_.Join("Data1.pak.pkfs-new")));
  // The next volume is made under its scratch name again and takes Data1.pak.
  ASSERT_TRUE(fs_->CreateVolume(""));
  EXPECT_EQ(fs_->archives()[1]->name(), "Data1.pak");
  EXPECT_FALSE(testing_support::FileExists(dir_.Join("Data1.pak.pkfs-new")));
}

TEST_F(PkfsfTest, NewVolumesTakeTheNextFreeDataName) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(fs_->CreateVolume(""));
  ASSERT_EQ(fs_->archives().size(), 2u);
  EXPECT_EQ(fs_->archives()[1]->name(), "Data1.pak");
  EXPECT_EQ(fs_->primary()->next(), fs_->archives()[1].get());
  EXPECT_EQ(ReadDirectory("DATA.pak").trailer.nextName, "Data1.pak");

  // Names already taken on disk, also by letter case or by a directory, are
  // skipped.
  testing_support::WriteFile(dir_.Join("data2.PAK"), "");
  testing_support::MakeDirs(dir_.Join("Data3.pak"));
  ASSERT_TRUE(fs_->CreateVolume(""));
  EXPECT_EQ(fs_->archives()[2]->name(), "Data4.pak");
  EXPECT_EQ(ReadDirectory("Data1.pak").trailer.nextName, "Data4.pak");
  EXPECT_EQ(Disk("data2.PAK"), "");
}

TEST_F(PkfsfTest, AnExistingData1MakesTheFirstNewVolumeData2) {
  ASSERT_TRUE(Mount());
  testing_support::WriteFile(dir_.Join("Data1.pak"), "someone else's");
  ASSERT_TRUE(fs_->CreateVolume(""));
  ASSERT_EQ(fs_->archives().size(), 2u);
  EXPECT_EQ(fs_->archives()[1]->name(), "Data2.pak");
  EXPECT_EQ(Disk("Data2.pak").size(), 32u);
  EXPECT_EQ(ReadDirectory("DATA.pak").trailer.nextName, "Data2.pak");
  EXPECT_EQ(Disk("Data1.pak"), "someone else's");
}

TEST_F(PkfsfTest, CreateVolumeReportsAVolumeThatCannotBeMade) {
  ASSERT_TRUE(Mount());
  EXPECT_FALSE(fs_->CreateVolume("no/such/dir.pak"));
  EXPECT_EQ(fs_->archives().size(), 1u);

  // A new volume whose first write (under its scratch name) fails is not
  // kept, and an add that needed it is refused.
  sizeLimit_ = 100;
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("first", Pattern(60, 1)));
  faults_.onWrite = [](const std::string& path, std::uint64_t, std::size_t) {
    testing_support::WriteDecision decision;
    if (path.compare(0, 9, "Data1.pak") == 0) decision.kind = testing_support::WriteDecision::kFail;
    return decision;
  };
  EXPECT_FALSE(fs_->CreateVolume(""));
  EXPECT_FALSE(Add("second", Pattern(60, 2)));
  faults_.onWrite = nullptr;
  EXPECT_EQ(fs_->archives().size(), 1u);
  EXPECT_EQ(fs_->primary()->next(), nullptr);
  EXPECT_FALSE(testing_support::FileExists(dir_.Join("Data1.pak")));
  EXPECT_FALSE(testing_support::FileExists(dir_.Join("Data1.pak.pkfs-new")));
  EXPECT_EQ(manager_->FindName("SECOND"), nullptr);
  EXPECT_TRUE(Add("second", Pattern(60, 2)));
  EXPECT_EQ(fs_->archives().size(), 2u);
}

TEST_F(PkfsfTest, AddFileStoresUnderTheNormalisedName) {
  EXPECT_FALSE(Mount("DATA.pak", false));
  EXPECT_FALSE(Add("x", Pattern(4, 3)));  // no volume loaded
  EXPECT_TRUE(fs_->RemoveFile("X"));
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("sub\\dir//a.txt", Pattern(4, 4)));
  EXPECT_NE(manager_->FindName("SUB/DIR/A.TXT"), nullptr);
  EXPECT_NE(fs_->primary()->FindHead("SUB/DIR/A.TXT"), nullptr);
}

TEST_F(PkfsfTest, CommandsReachTheVolumesAndTheBase) {
  ASSERT_TRUE(Mount());
  testing_support::WriteFile(dir_.Join("loose.txt"), "from a loose file");
  std::string argument = "loose.txt";
  fs_->Command("CPKFSFAddFile", argument);
  EXPECT_EQ(StoredContent("loose.txt"), BytesOf("from a loose file"));
  std::string name = "loose.txt";
  fs_->Command("CPKFSFRemoveFile", name);
  EXPECT_EQ(manager_->FindName("loose.txt"), nullptr);
  std::string error = "unchanged?";
  fs_->Command("CFSGetLastError", error);
  EXPECT_EQ(error, "");
  std::string other = "loose.txt";
  fs_->Command("CPKFSFUnknown", other);
  EXPECT_EQ(fs_->primary()->heads().size(), 0u);
}

TEST_F(PkfsfTest, OpeningForWritingEmptiesTheEntryInMemoryOnly) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("entry.bin", Pattern(50, 5)));
  const std::string disk = Disk("DATA.pak");
  pkfs::CFSFile* reader = manager_->Open("entry.bin", "rb");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->entry->size, 50u);
  delete reader;
  pkfs::CFSFile* writer = manager_->Open("entry.bin", "wb");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->entry->size, 0u);
  EXPECT_EQ(Disk("DATA.pak"), disk);
  delete writer;
  // The next directory write stores the size as it then stands; the old
  // region is free afterwards.
  ASSERT_TRUE(Add("other.bin", Pattern(10, 6)));
  ExpectListsMatchRebuild();
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(manager_->FindName("ENTRY.BIN"), nullptr);
  EXPECT_EQ(StoredContent("OTHER.BIN"), Pattern(10, 6));
}

TEST_F(PkfsfTest, ReleaseDropsTheVolumesAndTheirNames) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("kept.bin", Pattern(8, 7)));
  fs_->Release();
  EXPECT_TRUE(fs_->archives().empty());
  EXPECT_EQ(manager_->FindName("KEPT.BIN"), nullptr);
  EXPECT_FALSE(Add("x", Pattern(1, 8)));
  ASSERT_TRUE(fs_->Load("DATA.pak"));  // still usable
  EXPECT_EQ(StoredContent("KEPT.BIN"), Pattern(8, 7));
}

// A second process that loads a volume this one holds open waits for it,
// saying so once, and then sees what this one stored.
TEST_F(PkfsfTest, ASecondProcessWaitsForTheSet) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork(); the lock itself is tested in the platform suite";
#else
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("shared.bin", Pattern(16, 9)));
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    // The copies of this process's volumes go first; the locks stay with the
    // parent, which still has the files open.
    const bool ok = Mount("DATA.pak", false) && StoredContent("SHARED.BIN") == Pattern(16, 9);
    std::fflush(stderr);
    _exit(ok ? 0 : 1);
  }
  close(pipeFds[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the second process did not wait";
  Stop();  // gives the volumes up
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string said;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
    said.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  EXPECT_EQ(said, "Waiting for DATA.pak: another process has it open\n");
#endif
}

}  // namespace
}  // namespace pkfs_test

// The loose-file writer: temporaries beside their destinations, one sync per
// file system per batch, renames in the order staged, nothing left behind.
#include "update/loose_file_batch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using update::LooseFileBatch;

platform::Status Stage(LooseFileBatch& batch, const std::string& path, const std::string& bytes) {
  return batch.Stage(path, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::size_t EntryCount(const std::string& dir) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    static_cast<void>(entry);
    ++count;
  }
  return count;
}

TEST(LooseFileBatchTest, NothingChangesUntilCommitThenAllAtOnceWithTwoSyncs) {
  TempDir dir;
  WriteFile(dir.Join("old.txt"), "old");
  namespace fs = std::filesystem;
  // Read-only and executable (on Windows: the read-only attribute, which a
  // replacement must get past as well).
  fs::permissions(dir.Join("old.txt"), fs::perms::owner_read | fs::perms::owner_exec |
                                           fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
  LooseFileBatch batch;
  ASSERT_TRUE(Stage(batch, dir.Join("old.txt"), "new").ok());
  ASSERT_TRUE(Stage(batch, dir.Join("empty.bin"), "").ok());
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(Stage(batch, dir.Join("f" + std::to_string(i)), std::to_string(i)).ok());
  }
  // Staged: the old file is untouched and nothing new is visible by its name.
  EXPECT_EQ(ReadFile(dir.Join("old.txt")), "old");
  EXPECT_FALSE(FileExists(dir.Join("empty.bin")));

  const std::vector<platform::Status> results = batch.Commit();
  ASSERT_EQ(results.size(), 52u);
  for (const platform::Status& s : results) EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(batch.syncCount(), 2);  // data before the renames, then the renames
  EXPECT_TRUE(batch.empty());
  EXPECT_EQ(ReadFile(dir.Join("old.txt")), "new");
  EXPECT_EQ(ReadFile(dir.Join("f49")), "49");
  EXPECT_TRUE(FileExists(dir.Join("empty.bin")));
  EXPECT_EQ(EntryCount(dir.path()), 52u);  // no temporary left
  const fs::perms kept = fs::status(dir.Join("old.txt")).permissions();
#ifdef _WIN32
  EXPECT_NE(kept & fs::perms::owner_write, fs::perms::none);  // no longer read-only
#else
  EXPECT_EQ(kept & fs::perms::all, static_cast<fs::perms>(0555));  // kept as it was
#endif
}

TEST(LooseFileBatchTest, SameNameInOtherCaseIsHeldAndLinksAreWrittenThrough) {
  TempDir dir;
  LooseFileBatch batch;
  ASSERT_TRUE(Stage(batch, dir.Join("Read.Me"), "first").ok());
  EXPECT_TRUE(batch.Holds(dir.Join("read.me")));
  EXPECT_TRUE(batch.Holds(dir.path() + "\\READ.ME"));
  EXPECT_FALSE(batch.Holds(dir.Join("read.me2")));
  batch.Commit();
  // Once committed, the other spelling lands on the existing file.
  ASSERT_TRUE(Stage(batch, dir.Join("read.me"), "second").ok());
  batch.Commit();
  EXPECT_EQ(ReadFile(dir.Join("Read.Me")), "second");
  EXPECT_EQ(EntryCount(dir.path()), 1u);

#ifndef _WIN32  // symbolic links need privileges on Windows
  WriteFile(dir.Join("target.dat"), "t");
  ASSERT_EQ(::symlink("target.dat", dir.Join("link.dat").c_str()), 0);
  ASSERT_TRUE(Stage(batch, dir.Join("link.dat"), "through").ok());
  batch.Commit();
  EXPECT_EQ(ReadFile(dir.Join("target.dat")), "through");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Join("link.dat")));

  // One directory under two names is one target: the second write waits for
  // the first to be committed instead of sharing its temporary.
  ASSERT_EQ(::mkdir(dir.Join("real").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("real", dir.Join("alias").c_str()), 0);
  ASSERT_TRUE(Stage(batch, dir.Join("real/one.txt"), "1").ok());
  EXPECT_TRUE(batch.Holds(dir.Join("alias/ONE.txt")));
  EXPECT_FALSE(batch.Holds(dir.Join("alias/two.txt")));
  batch.Commit();
#endif
}

TEST(LooseFileBatchTest, FailuresNameTheDestinationAndLeaveNothingBehind) {
  TempDir dir;
  std::filesystem::create_directory(dir.Join("adir"));
  LooseFileBatch batch;
  platform::Status s = Stage(batch, dir.Join("adir"), "x");
  EXPECT_EQ(s.ToString(), dir.Join("adir") + ": Is a directory");
  s = Stage(batch, dir.Join("missing/x.txt"), "x");
  EXPECT_EQ(s.ToString(), dir.Join("missing/x.txt") + ": No such file or directory");
  EXPECT_TRUE(batch.empty());
  {
    LooseFileBatch dropped;
    ASSERT_TRUE(Stage(dropped, dir.Join("never.txt"), "x").ok());
  }  // destroyed uncommitted: the temporary goes
  EXPECT_EQ(EntryCount(dir.path()), 1u);
  EXPECT_FALSE(batch.Full());
  EXPECT_TRUE(batch.Commit().empty());
  EXPECT_EQ(batch.syncCount(), 0);
}

}  // namespace

#ifndef _WIN32  // hard links of files are a POSIX matter here
TEST(LooseFileBatchTest, OnlyASourceThatIsItsOwnersSoleNameIsMovedAndLooksNewlyWritten) {
  namespace fs = std::filesystem;
  TempDir dir;
  fs::create_directories(dir.Join("in"));
  fs::create_directories(dir.Join("out"));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct Row {
    const char* name;
    bool moved;
  };
  // "shared" has a second name elsewhere, "link" is a symbolic link, "odd"
  // has permissions a new file would not get, "leftover" meets a temporary
  // that a run cut short left as a second name of it.
  for (const Row row : {Row{"plain", true}, Row{"odd", true}, Row{"leftover", true},
                        Row{"shared", false}, Row{"link", false}}) {
    SCOPED_TRACE(row.name);
    const std::string source = dir.Join(std::string("in/") + row.name);
    const std::string destination = dir.Join(std::string("out/") + row.name);
    const std::string bytes = std::string("bytes of ") + row.name;
    WriteFile(source, bytes);
    if (std::string(row.name) == "shared") fs::create_hard_link(source, dir.Join("other-name"));
    if (std::string(row.name) == "odd") fs::permissions(source, static_cast<fs::perms>(0700));
    if (std::string(row.name) == "leftover") {
      fs::create_hard_link(source, destination + LooseFileBatch::kTemporarySuffix);
      fs::permissions(source, static_cast<fs::perms>(0700));
    }
    if (std::string(row.name) == "link") {
      WriteFile(dir.Join("link-target"), bytes);
      fs::remove(source);
      fs::create_symlink(dir.Join("link-target"), source);
    }
    const fs::file_time_type delivered = fs::last_write_time(dir.Join("in"));
    fs::last_write_time(source, delivered - std::chrono::hours(24));

    LooseFileBatch batch;
    ASSERT_EQ(batch.StageByLink(destination, batch.Locate(destination), source), row.moved);
    if (!row.moved) {
      // Nothing staged, nothing left: the caller copies instead.
      EXPECT_TRUE(batch.empty());
      EXPECT_FALSE(FileExists(destination + LooseFileBatch::kTemporarySuffix));
      continue;
    }
    EXPECT_FALSE(FileExists(destination));  // in place only once committed
    ASSERT_TRUE(batch.Commit().at(0).ok());
    fs::remove(source);  // as "-df" does after the commit
    EXPECT_EQ(ReadFile(destination), bytes);
    struct stat st;
    ASSERT_EQ(::stat(destination.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
    // A new file as the delivered one was, less the umask.
    const bool private700 = std::string(row.name) == "odd" || std::string(row.name) == "leftover";
    EXPECT_EQ(st.st_mode & 07777, (private700 ? 0700 : 0666) & ~mask);
    EXPECT_GT(fs::last_write_time(destination), delivered - std::chrono::hours(1));
  }

  // A copy staged over a temporary that is a second name of its source
  // writes a new file and leaves the source's bytes alone.
  const std::string source = dir.Join("in/copied");
  const std::string destination = dir.Join("out/copied");
  WriteFile(source, "delivered bytes");
  fs::create_hard_link(source, destination + LooseFileBatch::kTemporarySuffix);
  LooseFileBatch batch;
  ASSERT_TRUE(Stage(batch, destination, "decoded bytes").ok());
  EXPECT_EQ(ReadFile(source), "delivered bytes");
  ASSERT_TRUE(batch.Commit().at(0).ok());
  EXPECT_EQ(ReadFile(destination), "decoded bytes");
  EXPECT_EQ(ReadFile(source), "delivered bytes");
}
#endif

TEST(LooseFileBatchTest, AFileWrittenAheadIsTakenOnlyInItsOwnDirectory) {
  TempDir dir;
  std::filesystem::create_directory(dir.Join("sub"));
  const std::string bytes = "decoded ahead";
  const auto data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::unique_ptr<platform::UnnamedFile> prepared =
      platform::UnnamedFile::Write(dir.Join("sub"), data, bytes.size());
  if (prepared == nullptr) GTEST_SKIP() << "no unnamed files on this system";
  LooseFileBatch batch;
  // Written for another directory: not taken, and still there to be taken.
  EXPECT_FALSE(batch.StagePrepared(
      dir.Join("elsewhere.txt"), batch.Locate(dir.Join("elsewhere.txt")), *prepared, bytes.size()));
  EXPECT_TRUE(batch.empty());
  const std::string destination = dir.Join("sub/file.txt");
  WriteFile(destination, "old");
  WriteFile(destination + LooseFileBatch::kTemporarySuffix, "left by a run cut short");
  ASSERT_TRUE(batch.StagePrepared(destination, batch.Locate(destination), *prepared, bytes.size()));
  EXPECT_EQ(ReadFile(destination), "old");
  ASSERT_TRUE(batch.Commit().at(0).ok());
  EXPECT_EQ(ReadFile(destination), bytes);
  EXPECT_EQ(EntryCount(dir.Join("sub")), 1u);
}

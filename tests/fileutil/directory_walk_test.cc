#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fault_env.h"
#include "fileutil/file_util.h"
#include "gtest/gtest.h"
#include "test_support.h"

namespace {

using testing_support::MakeDirs;
using testing_support::ScopedCurrentDirectory;
using testing_support::TempDir;
using testing_support::WriteFile;
using Files = std::vector<std::string>;

TEST(ListFilesTest, DepthFirstInSortedOrderWithBackslashes) {
  TempDir dir;
  WriteFile(dir.Join("b.txt"), "");
  WriteFile(dir.Join("A.txt"), "");
  WriteFile(dir.Join("sub/z.bin"), "");
  WriteFile(dir.Join("sub/Deeper/x"), "");
  WriteFile(dir.Join("sub/a.txt"), "");
  WriteFile(dir.Join("zz"), "");
  MakeDirs(dir.Join("empty"));
  Files files;
  fileutil::ListFiles(dir.path(), files);
  const std::string d = dir.path();
  EXPECT_EQ(files, (Files{d + "\\A.txt", d + "\\b.txt", d + "\\sub\\a.txt", d + "\\sub\\Deeper\\x",
                          d + "\\sub\\z.bin", d + "\\zz"}));
}

TEST(ListFilesTest, DotDirectoriesAreSkippedButDotFilesListed) {
  TempDir dir;
  WriteFile(dir.Join(".svn/entries"), "");
  WriteFile(dir.Join("sub/.git/config"), "");
  WriteFile(dir.Join(".config"), "");
  WriteFile(dir.Join("sub/.keep"), "");
  Files files;
  fileutil::ListFiles(dir.path(), files);
  EXPECT_EQ(files, (Files{dir.path() + "\\.config", dir.path() + "\\sub\\.keep"}));
}

TEST(ListFilesTest, MissingDirectoryAppendsNothing) {
  TempDir dir;
  Files files{"kept"};
  fileutil::ListFiles(dir.Join("missing"), files);
  EXPECT_EQ(files, (Files{"kept"}));
}

// A directory that exists but cannot be listed is reported with its errno
// (its files are missing from the list); one that is not there is not.
TEST(ListFilesTest, DirectoriesThatCannotBeListedAreReported) {
  TempDir dir;
  WriteFile(dir.Join("a"), "");
  WriteFile(dir.Join("sub/b"), "");
  WriteFile(dir.Join("sub/deeper/c"), "");
  int listings = 0;
  // The third listing (sub\deeper) fails.
  testing_support::FaultEnv faults;
  faults.fault = [&listings](testing_support::IoCall call) {
    return call == testing_support::IoCall::kList && ++listings == 3 ? EIO : 0;
  };
  Files files;
  std::vector<fileutil::UnlistedDirectory> unlisted;
  fileutil::ListFiles(dir.path(), files, nullptr, &unlisted, &faults);
  EXPECT_EQ(files, (Files{dir.path() + "\\a", dir.path() + "\\sub\\b"}));
  ASSERT_EQ(unlisted.size(), 1u);
  EXPECT_EQ(unlisted[0].path, dir.path() + "\\sub\\deeper");
  EXPECT_EQ(unlisted[0].error, EIO);

  unlisted.clear();
  fileutil::ListFiles(dir.Join("missing"), files, nullptr, &unlisted);
  EXPECT_TRUE(unlisted.empty());
}

TEST(ListFilesTest, AppendsToTheExistingList) {
  TempDir dir;
  WriteFile(dir.Join("a"), "");
  Files files{"earlier"};
  fileutil::ListFiles(dir.path(), files);
  EXPECT_EQ(files, (Files{"earlier", dir.path() + "\\a"}));
}

TEST(ListFilesTest, PathNamingAFileIsItsOwnEntry) {
  TempDir dir;
  WriteFile(dir.Join("single.dat"), "x");
  WriteFile(dir.Join("single.dat.d/inner"), "");  // must not be searched
  Files files;
  fileutil::ListFiles(dir.Join("single.dat"), files);
  EXPECT_EQ(files, (Files{dir.Join("single.dat")}));
}

TEST(ListFilesTest, TrailingBackslashAndRelativePaths) {
  TempDir dir;
  WriteFile(dir.Join("Pak/sub/a.txt"), "");
  ScopedCurrentDirectory cwd(dir.path());
  Files files;
  fileutil::ListFiles("Pak\\", files);
  EXPECT_EQ(files, (Files{"Pak\\sub\\a.txt"}));
  files.clear();
  fileutil::ListFiles("pak", files);  // found without regard to case, named as given
  EXPECT_EQ(files, (Files{"pak\\sub\\a.txt"}));
  files.clear();
  fileutil::ListFiles("", files);  // the current directory
  EXPECT_EQ(files, (Files{"Pak\\sub\\a.txt"}));
}

TEST(ListFilesTest, LinkedDirectoriesAreNotFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
  TempDir dir;
  WriteFile(dir.Join("tree/f"), "");
  WriteFile(dir.Join("outside/secret"), "");
  ASSERT_EQ(::symlink(dir.Join("outside").c_str(), dir.Join("tree/out").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Join("tree").c_str(), dir.Join("tree/loop").c_str()), 0);
  Files files;
  fileutil::ListFiles(dir.Join("tree"), files);
  EXPECT_EQ(files, (Files{dir.Join("tree") + "\\f"}));
#endif
}

TEST(WalkDirectoryTest, PatternPrefixIsKeptAsGiven) {
  TempDir dir;
  WriteFile(dir.Join("x/y.txt"), "");
  Files files;
  fileutil::WalkDirectory(dir.path() + "\\*.*", files);
  EXPECT_EQ(files, (Files{dir.path() + "\\x\\y.txt"}));
  files.clear();
  fileutil::WalkDirectory(dir.path() + "/x/*.*", files);
  EXPECT_EQ(files, (Files{dir.path() + "/x/y.txt"}));
  files.clear();
  fileutil::WalkDirectory(dir.path() + "/x/", files);  // no wildcard: nothing to walk
  EXPECT_TRUE(files.empty());
}

}  // namespace

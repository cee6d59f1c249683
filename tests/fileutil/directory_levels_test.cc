#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "gtest/gtest.h"
#include "test_support.h"

namespace {

using testing_support::MakeDirs;
using testing_support::TempDir;
using testing_support::WriteFile;

bool IsDir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string RemoveAndCapture(const std::string& relative, const std::string& base) {
  testing::internal::CaptureStdout();
  fileutil::RemoveEmptyDirectories(relative, base);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(MakeDirectoriesTest, EveryLevelBeforeTheFileNameOneLevelIncluded) {
  struct Case {
    const char* relative;
    std::vector<const char*> directories;  // created below base
    std::vector<const char*> notDirectories;
  };
  const std::vector<Case> cases = {
      {"a.txt", {}, {"a.txt"}},
      {"solo/one.bin", {"solo"}, {"solo/one.bin"}},
      {"sub\\a.txt", {"sub"}, {"sub/a.txt"}},
      {"a/b/c.txt", {"a", "a/b"}, {"a/b/c.txt"}},
      {"x\\\\y\\z.dat", {"x", "x/y"}, {"x/y/z.dat"}},  // backslash pairs and singles
      // The last level is the file, with or without a "." in its name.
      {"bin/readme", {"bin"}, {"bin/readme"}},
      {"v1.2/notes", {"v1.2"}, {"v1.2/notes"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    fileutil::MakeDirectories(c.relative, dir.path());
    fileutil::MakeDirectories(c.relative, dir.path());  // existing levels: passed over
    for (const char* d : c.directories) EXPECT_TRUE(IsDir(dir.Join(d))) << c.relative << " " << d;
    for (const char* f : c.notDirectories) EXPECT_FALSE(IsDir(dir.Join(f))) << c.relative;
  }
  // A missing base is passed over quietly.
  TempDir dir;
  fileutil::MakeDirectories("p/q/r.txt", dir.Join("missing"));
  EXPECT_FALSE(IsDir(dir.Join("missing")));
}

TEST(RemoveEmptyDirectoriesTest, RemovesEmptiedLevelsAndReportsTheRest) {
  TempDir dir;
  MakeDirs(dir.Join("sub1/sub2"));
  WriteFile(dir.Join("sub1/other.txt"), "keep");
  // The file itself is already gone: its level is reported, sub2 is removed,
  // sub1 still holds a file and is reported.
  std::string out = RemoveAndCapture("sub1\\sub2\\a.txt", dir.path());
  EXPECT_EQ(out, "Remove Directory:" + dir.path() + "/sub1/sub2/a.txt" +
                     "Remove Directory:" + dir.path() + "/sub1");
  EXPECT_FALSE(IsDir(dir.Join("sub1/sub2")));
  EXPECT_TRUE(IsDir(dir.Join("sub1")));
  EXPECT_TRUE(IsDir(dir.path()));
  // Given an output, the same text goes there and nothing to standard output.
  std::string given;
  testing::internal::CaptureStdout();
  fileutil::RemoveEmptyDirectories("sub1\\a.txt", dir.path(),
                                   [&given](const std::string& text) { given += text; });
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(given, "Remove Directory:" + dir.path() + "/sub1/a.txt" +
                       "Remove Directory:" + dir.path() + "/sub1");
}

TEST(RemoveEmptyDirectoriesTest, ExistingFileIsLeftAlone) {
  TempDir dir;
  WriteFile(dir.Join("d/e/f.txt"), "x");
  std::string out = RemoveAndCapture("d/e/f.txt", dir.path());
  EXPECT_TRUE(testing_support::FileExists(dir.Join("d/e/f.txt")));
  EXPECT_EQ(out,
            "Remove Directory:" + dir.path() + "/d/e" + "Remove Directory:" + dir.path() + "/d");
  // Everything empty: all levels go without a line, base stays.
  std::remove(dir.Join("d/e/f.txt").c_str());
  EXPECT_EQ(RemoveAndCapture("d/e/f.txt", dir.path()),
            "Remove Directory:" + dir.path() + "/d/e/f.txt");
  EXPECT_FALSE(IsDir(dir.Join("d")));
  EXPECT_TRUE(IsDir(dir.path()));
  EXPECT_EQ(RemoveAndCapture("", dir.path()), "");
}

}  // namespace

// Creating and removing the directory levels of relative names, and the
// emptied directories a stage removes at its end.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fileutil/emptied_directories.h"
#include "fileutil/file_util.h"
#include "gtest/gtest.h"
#include "platform/env.h"
#include "platform/file_system.h"
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

std::size_t Depth(const std::string& path) {
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

TEST(EmptiedDirectoriesTest, DeepestFirstEachTriedOnceAndWhatStaysKeepsItsParents) {
  TempDir dir;
  const std::string base = dir.path();
  // Emptied completely: three levels go, deepest first.
  MakeDirs(dir.Join("a/b/c"));
  // A file still in it: the level stays, the one above is not even tried.
  WriteFile(dir.Join("k/x/kept.txt"), "k");
  // A directory the run never noted keeps its parent.
  MakeDirs(dir.Join("e/sub"));
  MakeDirs(dir.Join("e/other"));
  // A file in the place of a noted level.
  WriteFile(dir.Join("p/q"), "file");
  // A level that something else removed already counts as gone.
  MakeDirs(dir.Join("g"));

  std::vector<std::string> tried;
  fileutil::EmptiedDirectories emptied([&tried](const std::string& path) {
    tried.push_back(path);
    return platform::Env::Default()->RemoveDirectory(path).ok();
  });
  // Every file of a directory notes it; it is still tried once.
  emptied.NoteDeleted("a\\b\\c\\f1.bin", base);
  emptied.NoteDeleted("a/b/c/f2.bin", base);
  emptied.NoteDeleted("a\\\\b\\f3.bin", base);
  emptied.NoteDeleted("k/x/gone.txt", base);
  emptied.NoteDeleted("e/sub/f.txt", base);
  emptied.NoteDeleted("p/q/z.bin", base);
  emptied.NoteDeleted("g/h/f.bin", base);
  emptied.NoteDeleted("top.txt", base);          // directly in base: nothing to note
  emptied.NoteDeleted("../escape/f.txt", base);  // never above base
  emptied.NoteDeleted("y/./z/f.txt", base);      // up to the "." only
  EXPECT_EQ(emptied.size(), 12u);                // a a/b a/b/c k k/x e e/sub p p/q g g/h y

  std::string output;
  emptied.RemoveAll([&output](const std::string& text) { output += text; });

  const std::vector<std::string> expectedTried = {
      base + "/a/b/c", base + "/a/b", base + "/e/sub", base + "/g/h", base + "/k/x",
      base + "/p/q",   base + "/a",   base + "/e",     base + "/g",   base + "/y"};
  EXPECT_EQ(tried, expectedTried);
  for (std::size_t i = 1; i < tried.size(); ++i) EXPECT_GE(Depth(tried[i - 1]), Depth(tried[i]));
  EXPECT_EQ(output, "Remove Directory:" + base + "/k/x" + "Remove Directory:" + base + "/p/q" +
                        "Remove Directory:" + base + "/e" + "Remove Directory:" + base + "/k" +
                        "Remove Directory:" + base + "/p");
  EXPECT_FALSE(IsDir(dir.Join("a")));
  EXPECT_FALSE(IsDir(dir.Join("g")));
  EXPECT_FALSE(IsDir(dir.Join("e/sub")));
  EXPECT_TRUE(IsDir(dir.Join("e/other")));
  EXPECT_TRUE(testing_support::FileExists(dir.Join("k/x/kept.txt")));
  EXPECT_TRUE(testing_support::FileExists(dir.Join("p/q")));
  EXPECT_TRUE(IsDir(base));

  // Everything was forgotten: a second pass asks nothing.
  tried.clear();
  emptied.RemoveAll([&output](const std::string& text) { output += text; });
  EXPECT_TRUE(tried.empty());
  EXPECT_EQ(emptied.size(), 0u);
}

TEST(EmptiedDirectoriesTest,
     OneWalkFindsDirectoriesThatWereEmptiedBeforeAndTriesNoneThatHoldAnything) {
  TempDir dir;
  const std::string base = dir.path();
  MakeDirs(dir.Join("a"));
  MakeDirs(dir.Join("b/c"));
  WriteFile(dir.Join("k/f.txt"), "k");
  MakeDirs(dir.Join(".git/x"));  // the search passes it over: it stays
  MakeDirs(dir.Join("d/.svn"));  // and keeps the directory that holds it
  std::vector<std::string> tried;
  fileutil::EmptiedDirectories emptied([&tried](const std::string& path) {
    tried.push_back(path);
    return platform::Env::Default()->RemoveDirectory(path).ok();
  });
  emptied.NoteDirectoriesBelow(base);
  std::string output;
  emptied.RemoveAll([&output](const std::string& text) { output += text; });
  EXPECT_EQ(tried, (std::vector<std::string>{base + "/b/c", base + "/a", base + "/b"}));
  EXPECT_EQ(output, "Remove Directory:" + base + "/d" + "Remove Directory:" + base + "/k");
  EXPECT_FALSE(IsDir(dir.Join("a")));
  EXPECT_FALSE(IsDir(dir.Join("b")));
  EXPECT_TRUE(IsDir(dir.Join(".git/x")));
  EXPECT_TRUE(IsDir(dir.Join("d/.svn")));
  EXPECT_TRUE(testing_support::FileExists(dir.Join("k/f.txt")));
}

TEST(EmptiedDirectoriesTest, WithoutAnOutputTheLinesGoToStandardOutput) {
  TempDir dir;
  WriteFile(dir.Join("d/kept.bin"), "k");
  fileutil::EmptiedDirectories emptied;
  emptied.NoteDeleted("d/gone.bin", dir.path());
  testing::internal::CaptureStdout();
  emptied.RemoveAll();
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Remove Directory:" + dir.path() + "/d");
  EXPECT_TRUE(IsDir(dir.Join("d")));
}

}  // namespace

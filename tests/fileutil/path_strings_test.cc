#include <filesystem>
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "gtest/gtest.h"
#include "test_support.h"

namespace {

using fileutil::NormalizePath;
using fileutil::ReplaceAll;
using fileutil::SplitString;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  ReplaceAll(text, from, to);
  return text;
}

std::string Normalized(std::string path) {
  NormalizePath(path);
  return path;
}

std::vector<std::string> Split(const std::string& text, const std::string& sep = "/") {
  std::vector<std::string> pieces;
  SplitString(text, pieces, sep);
  return pieces;
}

TEST(ReplaceAllTest, NeverRescansReplacedText) {
  EXPECT_EQ(Replaced("a///b", "//", "/"), "a//b");
  EXPECT_EQ(Replaced("a////b", "//", "/"), "a//b");
  EXPECT_EQ(Replaced("aaa", "a", "aa"), "aaaaaa");  // would never end if rescanned
  EXPECT_EQ(Replaced("xabcx", "abc", ""), "xx");
  EXPECT_EQ(Replaced("", "a", "b"), "");
  EXPECT_EQ(Replaced("abc", "", "x"), "abc");  // an empty search text changes nothing
}

TEST(NormalizePathTest, PassesRunInOrder) {
  EXPECT_EQ(Normalized("a\\\\b\\\\c"), "a/b/c");
  EXPECT_EQ(Normalized("a\\b\\c"), "a/b/c");
  EXPECT_EQ(Normalized("/\\"), "//");  // "//" pass runs before the single-backslash pass
  EXPECT_EQ(Normalized("C:/data//Pak\\sub\\a.txt"), "C:/data/Pak/sub/a.txt");
  EXPECT_EQ(Normalized("a///b"), "a//b");
  EXPECT_EQ(Normalized("a\\\\\\b"), "a//b");
  EXPECT_EQ(Normalized(""), "");
}

TEST(SplitStringTest, Pieces) {
  EXPECT_EQ(Split("a/b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Split("a/b/"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Split("/a"), (std::vector<std::string>{"", "a"}));
  EXPECT_EQ(Split("a//b"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Split("a//"), (std::vector<std::string>{"a", ""}));
  EXPECT_TRUE(Split("").empty());
  EXPECT_EQ(Split("/"), (std::vector<std::string>{""}));
  EXPECT_EQ(Split("abc"), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(Split("a::b", "::"), (std::vector<std::string>{"a", "b"}));
  // Appends to what the list already holds.
  std::vector<std::string> pieces{"x"};
  SplitString("y/z", pieces, "/");
  EXPECT_EQ(pieces, (std::vector<std::string>{"x", "y", "z"}));
}

TEST(CurrentDirectoryTest, MatchesTheProcessDirectory) {
  testing_support::TempDir dir;
  testing_support::ScopedCurrentDirectory cwd(dir.path());
  std::string out = "stale";
  fileutil::CurrentDirectory(out);
  // The temporary directory may be reached through a link; compare real paths.
#ifdef _WIN32
  EXPECT_TRUE(std::filesystem::equivalent(out, dir.path()));
#else
  char* real = ::realpath(dir.path().c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(out, std::string(real));
  ::free(real);
#endif
}

}  // namespace

// Name keys and relative-path resolution.
#include "pkfs/normalize_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Normalized(std::string name) {
  pkfs::NormalizeName(name);
  return name;
}

TEST(NormalizeNameTest, UpperCasesAndTurnsBackslashesIntoSlashes) {
  EXPECT_EQ(Normalized("data\\Sound.txt"), "DATA/SOUND.TXT");
  EXPECT_EQ(Normalized("\\Apps\\Client/data\\Sound.txt"), "APPS/CLIENT/DATA/SOUND.TXT");
  EXPECT_EQ(Normalized("a1_z{}"), "A1_Z{}") << "only letters change";
  EXPECT_EQ(Normalized(""), "");
}

TEST(NormalizeNameTest, CollapsesSlashRunsAndDropsTheLeadingSlash) {
  EXPECT_EQ(Normalized("a//b///c"), "A/B/C");
  EXPECT_EQ(Normalized("//x"), "X");
  EXPECT_EQ(Normalized("/x/"), "X/");
  EXPECT_EQ(Normalized("\\\\server\\\\share"), "SERVER/SHARE");
  EXPECT_EQ(Normalized("/"), "");
}

TEST(NormalizeNameTest, KeepsTheSecondByteOfADoubleByteCharacter) {
  // 0x83 0x5C is one character whose second byte looks like "\".
  EXPECT_EQ(Normalized("\x83\x5C\\a"), "\x83\x5C/A");
  EXPECT_EQ(Normalized("\\"), "");
  EXPECT_EQ(Normalized("x\\y"), "X/Y") << "a lone 0x5C separates";
  EXPECT_EQ(Normalized("\x80\\y"), "\x80/Y") << "0x80 leads nothing";
  EXPECT_EQ(Normalized("a\x83"), "A\x83") << "a lead byte at the end";
}

struct Resolved {
  std::string directory;
  std::string relative;
};

Resolved Resolve(std::string directory, std::string relative) {
  pkfs::ResolveRelative(directory, relative);
  return {directory, relative};
}

TEST(ResolveRelativeTest, ClimbsOneSlashLevelPerDotDot) {
  Resolved r = Resolve("/Apps/Client", "../Other");
  EXPECT_EQ(r.directory, "/Apps/");
  EXPECT_EQ(r.relative, "Other");
  r = Resolve("/a/b/c//", "../../d");
  EXPECT_EQ(r.directory, "/a/");
  EXPECT_EQ(r.relative, "d");
  r = Resolve("/Apps/Client", "..\\Other");
  EXPECT_EQ(r.directory, "/Apps/");
  EXPECT_EQ(r.relative, "Other") << "the separator after .. goes with it";
}

TEST(ResolveRelativeTest, BackslashDirectoriesHaveNoLevelToClimb) {
  Resolved r = Resolve("\\Apps\\Client", "..\\Other");
  EXPECT_EQ(r.directory, "\\Apps\\Client/");
  EXPECT_EQ(r.relative, "..\\Other");
  r = Resolve("\\Apps\\Client\\", "x");
  EXPECT_EQ(r.directory, "\\Apps\\Client/");
  r = Resolve("", "..");
  EXPECT_EQ(r.directory, "");
  EXPECT_EQ(r.relative, "..");
  r = Resolve("/a", "..");
  EXPECT_EQ(r.directory, "");
  EXPECT_EQ(r.relative, "");
}

}  // namespace

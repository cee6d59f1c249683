#include "launcher/utility_modes.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "test_support.h"

namespace launcher {
namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ParseDecimalTest, ReadsLikeAtoi) {
  EXPECT_EQ(ParseDecimal("12"), 12);
  EXPECT_EQ(ParseDecimal("12abc"), 12);
  EXPECT_EQ(ParseDecimal("abc"), 0);
  EXPECT_EQ(ParseDecimal(""), 0);
  EXPECT_EQ(ParseDecimal(" \t\n-7"), -7);
  EXPECT_EQ(ParseDecimal("+5"), 5);
  EXPECT_EQ(ParseDecimal("- 5"), 0);
  EXPECT_EQ(ParseDecimal("--5"), 0);
  EXPECT_EQ(ParseDecimal("007"), 7);
  EXPECT_EQ(ParseDecimal("3.9"), 3);
}

TEST(ParseDecimalTest, SaturatesOutsideTheThirtyTwoBitRange) {
  EXPECT_EQ(ParseDecimal("2147483647"), INT_MAX);
  EXPECT_EQ(ParseDecimal("2147483648"), INT_MAX);
  EXPECT_EQ(ParseDecimal("-2147483648"), INT_MIN);
  EXPECT_EQ(ParseDecimal("-99999999999999999999999"), INT_MIN);
  EXPECT_EQ(ParseDecimal("99999999999999999999999"), INT_MAX);
}

TEST(DecimalValueNoteTest, SaysWhatWasWrittenWhenTheValueIsNoPlainNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"12", ""},
      {" -7", ""},
      {"+0005", ""},
      {"-2147483648", ""},
      {"2147483647", ""},
      {"abc", "abc: not a number, wrote 0"},
      {"", ": not a number, wrote 0"},
      {"12abc", "12abc: not a number, wrote 12"},
      {"3.9", "3.9: not a number, wrote 3"},
      {"-", "-: not a number, wrote 0"},
      {"2147483648", "2147483648: out of range, wrote 2147483647"},
      {"-2147483649", "-2147483649: out of range, wrote -2147483648"},
  };
  for (const auto& [value, note] : cases) EXPECT_EQ(DecimalValueNote(value), note) << value;
}

TEST(WriteUpdateIndexTest, WritesFourLittleEndianBytes) {
  TempDir dir;
  MakeDirs(dir.Join("UpdateSetting"));
  WriteFile(dir.Join("UpdateSetting/UpdateIndex.dat"), "older and longer content");
  std::string path;
  EXPECT_TRUE(WriteUpdateIndex(dir.path(), "12abc", &path));
  EXPECT_EQ(path, dir.path() + "/UpdateSetting/UpdateIndex.dat");
  EXPECT_EQ(ReadFile(path), std::string("\x0C\x00\x00\x00", 4));
  EXPECT_TRUE(WriteUpdateIndex(dir.path(), "-2", nullptr));
  EXPECT_EQ(ReadFile(path), "\xFE\xFF\xFF\xFF");
  EXPECT_TRUE(WriteUpdateIndex(dir.path(), "letters", nullptr));
  EXPECT_EQ(ReadFile(path), std::string(4, '\0'));
}

TEST(WriteUpdateIndexTest, MissingDirectoryFailsAndIsNotCreated) {
  TempDir dir;
  std::string path;
  EXPECT_FALSE(WriteUpdateIndex(dir.path(), "5", &path));
  EXPECT_EQ(path, dir.path() + "/UpdateSetting/UpdateIndex.dat");
  EXPECT_FALSE(FileExists(dir.Join("UpdateSetting")));
}

class ConvertBinaryToTextTest : public ::testing::Test {
 protected:
  std::string convert(const std::string& sourceBytes) {
    WriteFile(dir_.Join("in"), sourceBytes);
    EXPECT_EQ(ConvertBinaryToText(dir_.Join("in"), dir_.Join("out")), ConvertResult::kWritten);
    return ReadFile(dir_.Join("out"));
  }
  TempDir dir_;
};

TEST_F(ConvertBinaryToTextTest, WritesTheLittleEndianValueAsDecimalText) {
  EXPECT_EQ(convert("\xFF\xFF\xFF\xFF"), "-1");
  EXPECT_EQ(convert(std::string("\x01\x00\x00\x80", 4)), "-2147483647");
  EXPECT_EQ(convert(std::string("\x10\x27\x00\x00", 4)), "10000");
  EXPECT_EQ(convert("\x78\x56\x34\x12\x99\x99"), "305419896");  // bytes past 4 are ignored
}

TEST_F(ConvertBinaryToTextTest, ShortSourceFillsTheHighBytesWithZero) {
  EXPECT_EQ(convert("\x34\x12"), "4660");
  EXPECT_EQ(convert("\xFF"), "255");
  EXPECT_EQ(convert(""), "0");
}

TEST_F(ConvertBinaryToTextTest, ReplacesAnExistingTarget) {
  WriteFile(dir_.Join("out"), "a much longer earlier text");
  EXPECT_EQ(convert(std::string("\x07\x00\x00\x00", 4)), "7");
}

TEST_F(ConvertBinaryToTextTest, MissingSourceWritesNothing) {
  EXPECT_EQ(ConvertBinaryToText(dir_.Join("absent"), dir_.Join("out")),
            ConvertResult::kSourceMissing);
  EXPECT_FALSE(FileExists(dir_.Join("out")));
}

TEST_F(ConvertBinaryToTextTest, UnopenableTargetIsReported) {
  WriteFile(dir_.Join("in"), "\x01\x00\x00\x00");
  EXPECT_EQ(ConvertBinaryToText(dir_.Join("in"), dir_.Join("missing/out")),
            ConvertResult::kTargetNotWritten);
  EXPECT_FALSE(FileExists(dir_.Join("missing")));
}

}  // namespace
}  // namespace launcher

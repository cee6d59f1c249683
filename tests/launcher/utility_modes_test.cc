#include "launcher/utility_modes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "test_support.h"

namespace launcher {
namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ParseUpdateIndexTest, TakesOnlyDecimalNumbersOfThirtyTwoBits) {
  const std::pair<const char*, std::uint32_t> accepted[] = {{"0", 0},
                                                            {"12", 12},
                                                            {"007", 7},
                                                            {"4294967295", 4294967295u},
                                                            {"0004294967295", 4294967295u}};
  for (const auto& [text, expected] : accepted) {
    std::uint32_t value = 1;
    EXPECT_TRUE(ParseUpdateIndex(text, &value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  for (const char* text : {"", "abc", "-1", "+5", " 5", "5 ", "12abc", "3.9", "4294967296",
                           "99999999999", "99999999999999999999999999"}) {
    std::uint32_t value = 77;
    EXPECT_FALSE(ParseUpdateIndex(text, &value)) << text;
    EXPECT_EQ(value, 77u) << text;
  }
}

TEST(WriteUpdateIndexTest, WritesFourLittleEndianBytes) {
  TempDir dir;
  MakeDirs(dir.Join("UpdateSetting"));
  WriteFile(dir.Join("UpdateSetting/UpdateIndex.dat"), "older and longer content");
  std::string path;
  EXPECT_TRUE(WriteUpdateIndex(dir.path(), 12, &path));
  EXPECT_EQ(path, dir.path() + "/UpdateSetting/UpdateIndex.dat");
  EXPECT_EQ(ReadFile(path), std::string("\x0C\x00\x00\x00", 4));
  EXPECT_TRUE(WriteUpdateIndex(dir.path(), 4294967294u, nullptr));
  EXPECT_EQ(ReadFile(path), "\xFE\xFF\xFF\xFF");
}

TEST(WriteUpdateIndexTest, MissingDirectoryFailsAndIsNotCreated) {
  TempDir dir;
  std::string path;
  EXPECT_FALSE(WriteUpdateIndex(dir.path(), 5, &path));
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

TEST_F(ConvertBinaryToTextTest, ShortSourceWritesNothing) {
  WriteFile(dir_.Join("out"), "earlier");
  for (const std::string& bytes :
       {std::string("\x34\x12\x00", 3), std::string("\xFF"), std::string()}) {
    WriteFile(dir_.Join("in"), bytes);
    std::size_t read = 9;
    EXPECT_EQ(ConvertBinaryToText(dir_.Join("in"), dir_.Join("out"), &read),
              ConvertResult::kSourceShort);
    EXPECT_EQ(read, bytes.size());
    EXPECT_EQ(ReadFile(dir_.Join("out")), "earlier");
  }
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
  WriteFile(dir_.Join("in"), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(ConvertBinaryToText(dir_.Join("in"), dir_.Join("missing/out")),
            ConvertResult::kTargetNotWritten);
  EXPECT_FALSE(FileExists(dir_.Join("missing")));
}

}  // namespace
}  // namespace launcher

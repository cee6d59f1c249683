#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "gtest/gtest.h"
#include "test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::ScopedCurrentDirectory;
using testing_support::TempDir;
using testing_support::WriteFile;
using Bytes = std::vector<unsigned char>;

TEST(WriteBufferToFileTest, WritesWholeBufferReplacingContent) {
  TempDir dir;
  ScopedCurrentDirectory cwd(dir.path());
  WriteFile(dir.Join("out.bin"), "much longer old content");
  Bytes data{'a', 0, 'b', 0xFF};
  EXPECT_TRUE(fileutil::WriteBufferToFile("out.bin", data));
  EXPECT_EQ(ReadFile(dir.Join("out.bin")), std::string("a\0b\xFF", 4));
}

TEST(WriteBufferToFileTest, EmptyBufferLeavesEmptyFile) {
  TempDir dir;
  ScopedCurrentDirectory cwd(dir.path());
  EXPECT_TRUE(fileutil::WriteBufferToFile("empty", Bytes{}));
  EXPECT_TRUE(FileExists(dir.Join("empty")));
  EXPECT_EQ(ReadFile(dir.Join("empty")), "");
}

TEST(WriteBufferToFileTest, LeadingSlashMeansCurrentDirectory) {
  TempDir dir;
  ScopedCurrentDirectory cwd(dir.path());
  EXPECT_TRUE(fileutil::WriteBufferToFile("/x.bin", Bytes{'1', '2'}));
  EXPECT_EQ(ReadFile(dir.Join("x.bin")), "12");
  // Only one "/" is dropped, and backslashes separate levels.
  testing_support::MakeDirs(dir.Join("sub"));
  EXPECT_TRUE(fileutil::WriteBufferToFile("sub\\y.bin", Bytes{'3'}));
  EXPECT_EQ(ReadFile(dir.Join("sub/y.bin")), "3");
}

TEST(WriteBufferToFileTest, ReadOnlyFileIsMadeWritable) {
  TempDir dir;
  ScopedCurrentDirectory cwd(dir.path());
  WriteFile(dir.Join("ro.bin"), "old");
  ASSERT_EQ(::chmod(dir.Join("ro.bin").c_str(), 0444), 0);
  EXPECT_TRUE(fileutil::WriteBufferToFile("RO.BIN", Bytes{'n'}));
  EXPECT_EQ(ReadFile(dir.Join("ro.bin")), "n");
}

TEST(WriteBufferToFileTest, ReportsOnTheDebugChannel) {
  TempDir dir;
  ScopedCurrentDirectory cwd(dir.path());
  ::setenv("MAROVETIN_DEBUG", "1", 1);
  testing::internal::CaptureStderr();
  bool ok = fileutil::WriteBufferToFile("a", Bytes{'x'});
  bool failed = fileutil::WriteBufferToFile("missing/a", Bytes{'x'});
  std::string err = testing::internal::GetCapturedStderr();
  ::unsetenv("MAROVETIN_DEBUG");
  EXPECT_TRUE(ok);
  EXPECT_FALSE(failed);
  EXPECT_EQ(err, "Write Buffer OK!!Write Buffer Error!!");
  // Without the variable the channel stays silent.
  testing::internal::CaptureStderr();
  fileutil::WriteBufferToFile("a", Bytes{'y'});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(WriteBufferToFileTest, FailureWhenTheDeviceIsFull) {
  // /dev/full accepts the open and fails every write: the failure must be
  // reported rather than success.
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ScopedCurrentDirectory root("/");  // the leading "/" is dropped: "dev/full" from here
  EXPECT_FALSE(fileutil::WriteBufferToFile("/dev/full", Bytes(100000, 'z')));
  EXPECT_FALSE(fileutil::WriteBufferToFile("/dev/full", Bytes{'z'}));  // fails only at fclose
}

}  // namespace

#include "update/source_release.h"

#include <cerrno>
#include <string>

#include "gtest/gtest.h"
#include "platform/file_system.h"
#include "test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(SourceReleaseTest, NamesGoAtOnceFilesAreKeptUntilReleasedAndNoneIsLeftOpen) {
#ifdef _WIN32
  GTEST_SKIP() << "deletes as DeleteFile does on Windows; counts descriptors in /proc";
#else
  TempDir dir;
  const std::size_t before = testing_support::OpenDescriptorCount();
  {
    update::SourceRelease release;
    for (int i = 0; i < 20; ++i) WriteFile(dir.Join("f" + std::to_string(i)), "bytes");
    for (int i = 0; i < 10; ++i) {
      ASSERT_TRUE(
          release.DeleteFile(dir.Join("F" + std::to_string(i))).ok());  // names match as ever
      EXPECT_FALSE(FileExists(dir.Join("f" + std::to_string(i))));
    }
    // Held: the names are free for new files at once.
    WriteFile(dir.Join("f0"), "new");
    EXPECT_EQ(testing_support::OpenDescriptorCount(), before + 10);
    release.Release();
    release.Drain();
    EXPECT_EQ(testing_support::OpenDescriptorCount(), before);
    release.SetHolding(false);
    for (int i = 10; i < 20; ++i)
      ASSERT_TRUE(release.DeleteFile(dir.Join("f" + std::to_string(i))).ok());
    // What DeleteFile refuses is refused alike.
    errno = 0;
    EXPECT_FALSE(release.DeleteFile(dir.Join("missing")).ok());
    EXPECT_EQ(errno, ENOENT);
    MakeDirs(dir.Join("sub"));
    EXPECT_FALSE(release.DeleteFile(dir.Join("sub")).ok());
    EXPECT_TRUE(platform::IsDirectory(dir.Join("sub")));
    WriteFile(dir.Join("held"), "x");
    release.SetHolding(true);
    // A file its caller knows to be small is not worth holding.
    WriteFile(dir.Join("small"), "x");
    ASSERT_TRUE(release.DeleteFile(dir.Join("small"), 1).ok());
    EXPECT_FALSE(FileExists(dir.Join("small")));
    release.Drain();
    EXPECT_EQ(testing_support::OpenDescriptorCount(), before);
    ASSERT_TRUE(release.DeleteFile(dir.Join("held")).ok());
  }  // the destructor frees what is held
  EXPECT_EQ(testing_support::OpenDescriptorCount(), before);
  EXPECT_EQ(ReadFile(dir.Join("f0")), "new");
#endif
}

}  // namespace

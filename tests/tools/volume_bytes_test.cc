// The bytes every writer of the format leaves, pinned: a set built by adds,
// replacements and a removal over two chained volumes (directories through
// the filter, some files filtered), then the same set compacted. Each volume
// is compared with a fingerprint (size and FNV-1a) taken from the writers as
// they were when the format's bytes were last known to be right; a writer
// that moves one byte changes it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../pkfs/pack_fixture.h"
#include "pkfstool/compact.h"

namespace pkfs_test {
namespace {

std::string Fingerprint(const std::string& path) {
  const std::string bytes = testing_support::ReadFile(path);
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  char text[48];
  std::snprintf(text, sizeof text, "%zu:%016llx", bytes.size(),
                static_cast<unsigned long long>(hash));
  return text;
}

class VolumeBytesTest : public PackFixture {
 protected:
  VolumeBytesTest() {
    filtered_ = true;
    rules_ = {"txt"};
  }

  std::vector<std::string> Fingerprints() {
    std::vector<std::string> prints;
    for (const char* name : {"DATA.pak", "Data1.pak", "Data2.pak"}) {
      if (std::filesystem::exists(dir_.Join(name))) {
        prints.push_back(std::string(name) + " " + Fingerprint(dir_.Join(name)));
      }
    }
    return prints;
  }
};

TEST_F(VolumeBytesTest, CommitsAndCompactionWriteTheKnownBytes) {
  sizeLimit_ = 700;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount());
  fs_->BeginBatch();
  ASSERT_TRUE(Add("a.bin", Pattern(200, 1)));
  ASSERT_TRUE(Add("dir/b.txt", Pattern(150, 2)));
  ASSERT_TRUE(Add("c.bin", Pattern(300, 3)));
  ASSERT_TRUE(fs_->CommitBatch().ok());
  ASSERT_TRUE(Add("d.txt", Pattern(250, 4)));   // into a second volume
  ASSERT_TRUE(Add("a.bin", Pattern(90, 5)));    // replaced: a gap behind it
  ASSERT_TRUE(fs_->RemoveFile("DIR/B.TXT"));    // removed: another gap
  ASSERT_TRUE(Add("e.txt", Pattern(60, 6)));    // into a gap
  testing::internal::GetCapturedStdout();
  Stop();
  const std::vector<std::string> written = Fingerprints();

  pkfstool::CompactOptions options;
  options.volumeSizeLimit = 500;
  ASSERT_TRUE(pkfstool::CompactSet(dir_.Join("DATA.pak"), options, nullptr).ok());
  const std::vector<std::string> compacted = Fingerprints();

  EXPECT_EQ(written, (std::vector<std::string>{"DATA.pak 985:ac8f989bc4f97284",
                                               "Data1.pak 323:fcd914d32ef17e96"}));
  // The new set's later volume takes the first "Data%d.pak" name no file had.
  EXPECT_EQ(compacted, (std::vector<std::string>{"DATA.pak 566:9e2c8175048b6d07",
                                                 "Data2.pak 307:53f761241a413163"}));
}

}  // namespace
}  // namespace pkfs_test

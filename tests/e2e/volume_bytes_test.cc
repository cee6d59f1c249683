// The pack volumes' bytes, fixed. Three sets are made the same way every
// time: one through the library (a chain of three volumes under a small size
// limit, a removal, a gap taken again, a replacement), one by two runs of the
// built updater (new files, then replacements, a file that takes a freed
// gap and names in several letter cases), and each of them compacted by the
// built pkfs tool. Every volume's size and FNV-1a hash must be the ones
// recorded in the table below: a change to any of them is a change of the
// on-disk format, which stored sets and other readers rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;

// "size:hash" of every volume of a set, by file name; other files are left out.
using VolumeFingerprints = std::map<std::string, std::string>;

std::string Fingerprint(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return std::to_string(bytes.size()) + ":" + text;
}

VolumeFingerprints Volumes(const std::string& directory) {
  VolumeFingerprints volumes;
  for (const auto& file : update_e2e::TreeSnapshot(directory)) {
    const std::string& name = file.first;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pak") == 0 &&
        name.find('/') == std::string::npos) {
      volumes[name] = Fingerprint(file.second);
    }
  }
  return volumes;
}

// Bytes of a given length that differ with seed and position.
std::string Content(std::size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

class VolumeBytesTest : public ::testing::Test {
 protected:
  // Compacts the set in directory with the built tool; false where there is
  // none (it is built for POSIX systems only).
  bool Compacted(const std::string& directory) {
    if (testing_support::PkfsBinary().empty()) return false;
    const testing_support::RunResult run = testing_support::RunProgram(
        testing_support::PkfsBinary(), {"compact", "DATA.pak"}, directory);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return true;
  }

  testing_support::TempDir root_;
};

TEST_F(VolumeBytesTest, ASetWrittenThroughTheLibraryAndCompacted) {
  const std::string dir = root_.path();
  {
    // Volumes are opened relative to the process's directory.
    testing_support::ScopedCurrentDirectory cwd(dir);
    pkfs::CFSManager manager(dir);
    manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    auto owned = std::make_unique<pkfs::CPKFSF>(&manager);
    pkfs::CPKFSF* fs = owned.get();
    fs->SetSizeLimitForTesting(6000);
    fs->AddNameRule("txt", 0);
    fs->AddNameRule("xml", 0);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(manager.SetFileSystem("DATA.pak", std::move(owned)) ||
                manager.CreateVolume("DATA.pak"));
    auto add = [fs](const std::string& name, std::size_t size, unsigned seed) {
      std::string bytes = Content(size, seed);
      return fs->AddFile(name, reinterpret_cast<unsigned char*>(&bytes[0]),
                         static_cast<std::uint32_t>(bytes.size()));
    };
    for (unsigned i = 0; i < 12; ++i) {
      ASSERT_TRUE(add("data/file" + std::to_string(i) + (i % 3 == 0 ? ".txt" : ".bin"),
                      300 + 97 * i, i));
    }
    ASSERT_TRUE(fs->RemoveFile("DATA/FILE4.BIN"));
    ASSERT_TRUE(add("gap.bin", 200, 40));           // into the freed gap
    ASSERT_TRUE(add("data/file7.bin", 1500, 41));  // a replacement, larger
    ASSERT_TRUE(add("Mixed/Case.XML", 777, 42));
    testing::internal::GetCapturedStdout();
  }
  const VolumeFingerprints written = Volumes(dir);
  EXPECT_EQ(written, (VolumeFingerprints{{"DATA.pak", "5756:52ab6e197803490c"},
                                         {"Data1.pak", "5097:9ae23d76ac8b17ad"},
                                         {"Data2.pak", "3035:07247f46490c62a8"}}));
  if (!Compacted(dir)) GTEST_SKIP() << "pkfs is not built here: the compacted set is not checked";
  EXPECT_EQ(Volumes(dir), (VolumeFingerprints{{"DATA.pak", "11281:ea24e93677b3713e"}}));
}

TEST_F(VolumeBytesTest, ASetTheUpdaterWritesInTwoRunsAndCompacted) {
  const std::string install = root_.Join("install");
  testing_support::MakeDirs(install);
  auto deliver = [&install](const std::string& relative, const std::string& bytes) {
    WriteFile(install + "/update/" + relative, bytes);
  };
  for (unsigned i = 0; i < 20; ++i) {
    deliver("Pak/dir" + std::to_string(i % 4) + "/entry" + std::to_string(i) +
                (i % 5 == 0 ? ".txt" : ".dat"),
            Content(100 + 53 * i, 100 + i));
  }
  testing_support::RunResult run = update_e2e::RunUpdater(install, {"-sw", "update", "-df"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  // Replacements (smaller, larger), a new file that fits a freed gap, and a
  // second spelling of the pack's directory.
  deliver("Pak/dir1/entry1.dat", Content(40, 200));
  deliver("Pak/dir2/entry2.dat", Content(2000, 201));
  deliver("pak/DIR3/New.TXT", Content(90, 202));
  run = update_e2e::RunUpdater(install, {"-sw", "update", "-df"});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(Volumes(install), (VolumeFingerprints{{"DATA.pak", "15716:69eac0c7175decae"}}));
  if (!Compacted(install))
    GTEST_SKIP() << "pkfs is not built here: the compacted set is not checked";
  EXPECT_EQ(Volumes(install), (VolumeFingerprints{{"DATA.pak", "14615:a69db672f53f0eb7"}}));
}

}  // namespace

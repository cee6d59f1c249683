// Not a check of its own: scripts/windows-same-bytes.sh runs this (it is
// disabled in the suite) to lay a set of several pack volumes into an
// installation, because the updater alone only grows a set past 1.5 GiB.
// Both programs then update copies of the set and must leave the same bytes.
//   e2e_tests --gtest_also_run_disabled_tests
//             --gtest_filter=VolumeSetSeed.* (with MAROVETIN_SEED_SET_DIR=DIR)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "update_e2e_support.h"

namespace {

TEST(VolumeSetSeed, DISABLED_WritesASetOfSeveralVolumes) {
  const char* dir = std::getenv("MAROVETIN_SEED_SET_DIR");
  if (dir == nullptr || *dir == '\0') GTEST_SKIP() << "MAROVETIN_SEED_SET_DIR is not set";
  pkfs::CFSManager manager(dir);
  manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  auto owned = std::make_unique<pkfs::CPKFSF>(&manager);
  pkfs::CPKFSF* fs = owned.get();
  fs->SetSizeLimitForTesting(64 * 1024);
  // The updater's own name rules: these names are scrambled in the set.
  fs->AddNameRule("txt", 0);
  fs->AddNameRule("xml", 0);
  testing::internal::CaptureStdout();
  const std::string first = std::string(dir) + "/DATA.pak";
  if (!manager.SetFileSystem(first, std::move(owned))) manager.CreateVolume(first);
  // Names from the space that the script's generated update draws from, so
  // that its second round replaces some of them in every volume.
  static const char* const kExtensions[] = {"TXT", "XML", "BIN", "DAT"};
  for (unsigned i = 0; i < 120; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "FILE%03u.%s", i, kExtensions[i % 4]);
    std::string data = update_e2e::NoisyBytes(600 + 37 * i, i + 500);
    ASSERT_TRUE(fs->AddFile(name, reinterpret_cast<unsigned char*>(&data[0]),
                            static_cast<std::uint32_t>(data.size())))
        << name;
  }
  testing::internal::GetCapturedStdout();
  EXPECT_GE(fs->archives().size(), 3u);
}

}  // namespace

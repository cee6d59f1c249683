// Not a check of its own: scripts/windows-same-bytes.sh runs this (it is
// disabled in the suite) to lay a set of several pack volumes into an
// installation, because the updater alone only grows a set past 1.5 GiB.
// Both programs then update copies of the set and must leave the same bytes.
//   e2e_tests --gtest_also_run_disabled_tests
//             --gtest_filter=VolumeSetSeed.* (with MAROVETIN_SEED_SET_DIR=DIR)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "update_e2e_support.h"

namespace {

TEST(VolumeSetSeed, DISABLED_WritesASetOfSeveralVolumes) {
  const char* dir = std::getenv("MAROVETIN_SEED_SET_DIR");
  if (dir == nullptr || *dir == '\0') GTEST_SKIP() << "MAROVETIN_SEED_SET_DIR is not set";
  update_e2e::SetWriter set(dir, 64 * 1024);
  // Names from the space that the script's generated update draws from, so
  // that its second round replaces some of them in every volume.
  static const char* const kExtensions[] = {"TXT", "XML", "BIN", "DAT"};
  for (unsigned i = 0; i < 120; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "FILE%03u.%s", i, kExtensions[i % 4]);
    ASSERT_TRUE(set.Add(name, update_e2e::NoisyBytes(600 + 37 * i, i + 500))) << name;
  }
  EXPECT_GE(set.volumes(), 3u);
}

}  // namespace

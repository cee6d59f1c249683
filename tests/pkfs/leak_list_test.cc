// The free-space list: building, first fit, claiming and releasing regions.
#include "leak_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace pkfs {
namespace {

using Bounds = std::vector<std::uint32_t>;

constexpr std::uint32_t kLimit = 0x60000000;

LeakList Normalized(Bounds bounds) {
  LeakList list(std::move(bounds));
  list.Normalize();
  return list;
}

TEST(LeakListTest, FreshVolumeBuildsHeaderAndTableAsOneRegion) {
  LeakList list;
  list.Reset(4);
  list.AppendRegion(0, 16);
  list.AppendRegion(16, 16);
  EXPECT_EQ(list.bounds(), (Bounds{0, 16, 16, 32}));
  list.Normalize();
  EXPECT_EQ(list.bounds(), (Bounds{0, 32}));
  std::uint32_t start = 0;
  EXPECT_TRUE(list.FindLeakData(100, kLimit, &start));
  EXPECT_EQ(start, 32u);
}

TEST(LeakListTest, NormalizeMergesTouchingRegionsAndSorts) {
  EXPECT_EQ(Normalized({0, 16, 16, 50, 50, 80, 100, 120}).bounds(), (Bounds{0, 80, 100, 120}));
  EXPECT_EQ(Normalized({100, 120, 0, 16, 16, 50}).bounds(), (Bounds{0, 50, 100, 120}));
  // A size-0 region at the end of a used one disappears.
  EXPECT_EQ(Normalized({0, 32, 32, 32}).bounds(), (Bounds{0, 32}));
}

TEST(LeakListTest, FirstFitNeedsAStrictlyLargerGap) {
  LeakList list(Bounds{0, 100, 200, 300});
  std::uint32_t start = 0;
  EXPECT_TRUE(list.FindLeakData(100, kLimit, &start));
  EXPECT_EQ(start, 300u);
  EXPECT_TRUE(list.FindLeakData(99, kLimit, &start));
  EXPECT_EQ(start, 100u);

  LeakList two(Bounds{0, 100, 150, 300, 500, 600});
  EXPECT_TRUE(two.FindLeakData(60, kLimit, &start));
  EXPECT_EQ(start, 300u);
  EXPECT_TRUE(two.FindLeakData(10, kLimit, &start));
  EXPECT_EQ(start, 100u);
}

TEST(LeakListTest, AppendingStopsStrictlyBelowTheLimit) {
  LeakList list(Bounds{0, kLimit - 256});
  std::uint32_t start = 0;
  EXPECT_FALSE(list.FindLeakData(256, kLimit, &start));
  EXPECT_EQ(start, kLimit - 256);
  EXPECT_TRUE(list.FindLeakData(255, kLimit, &start));
  EXPECT_EQ(start, kLimit - 256);
  // Gaps are reused whatever the limit.
  LeakList gap(Bounds{0, 16, 64, kLimit});
  EXPECT_TRUE(gap.FindLeakData(40, kLimit, &start));
  EXPECT_EQ(start, 16u);
  // A start at or past the limit never fits.
  LeakList past(Bounds{0, kLimit + 10});
  EXPECT_FALSE(past.FindLeakData(0, kLimit, &start));
  EXPECT_EQ(start, kLimit + 10);
}

TEST(LeakListTest, ClaimGrowsTheRegionBeforeTheGap) {
  LeakList list(Bounds{0, 100, 150, 300});
  EXPECT_TRUE(list.Claim(100, 20));
  EXPECT_EQ(list.bounds(), (Bounds{0, 120, 150, 300}));

  LeakList fill(Bounds{0, 100, 150, 300});
  EXPECT_TRUE(fill.Claim(100, 50));
  EXPECT_EQ(fill.bounds(), (Bounds{0, 300}));

  LeakList tail(Bounds{0, 300});
  EXPECT_TRUE(tail.Claim(300, 40));
  EXPECT_EQ(tail.bounds(), (Bounds{0, 340}));
}

TEST(LeakListTest, ClaimRefusesWhatItCannotPlace) {
  LeakList list(Bounds{0, 100, 150, 300});
  const Bounds before = list.bounds();
  EXPECT_FALSE(list.Claim(110, 10));  // no boundary there: the caller rebuilds
  EXPECT_FALSE(list.Claim(150, 10));  // 150 opens a used region
  EXPECT_FALSE(list.Claim(100, 60));  // runs into the region at 150
  EXPECT_EQ(list.bounds(), before);
}

TEST(LeakListTest, ReleaseCutsGapsOutOfUsedRegions) {
  LeakList middle(Bounds{0, 300});
  EXPECT_TRUE(middle.Release(100, 50));
  EXPECT_EQ(middle.bounds(), (Bounds{0, 100, 150, 300}));

  LeakList end(Bounds{0, 300});
  EXPECT_TRUE(end.Release(250, 50));
  EXPECT_EQ(end.bounds(), (Bounds{0, 250}));

  LeakList most(Bounds{0, 300});
  EXPECT_TRUE(most.Release(16, 284));
  EXPECT_EQ(most.bounds(), (Bounds{0, 16}));

  // A whole region between gaps goes, and the gaps join.
  LeakList whole(Bounds{0, 16, 32, 48, 64, 80});
  EXPECT_TRUE(whole.Release(32, 16));
  EXPECT_EQ(whole.bounds(), (Bounds{0, 16, 64, 80}));
  // The front of a region.
  LeakList front(Bounds{0, 16, 32, 48});
  EXPECT_TRUE(front.Release(32, 8));
  EXPECT_EQ(front.bounds(), (Bounds{0, 16, 40, 48}));
}

TEST(LeakListTest, ReleaseOfFreeOrStraddlingRegionsChangesNothing) {
  LeakList list(Bounds{0, 100, 150, 300});
  const Bounds before = list.bounds();
  EXPECT_FALSE(list.Release(100, 50));            // already free
  EXPECT_FALSE(list.Release(120, 10));            // inside the gap
  EXPECT_FALSE(list.Release(90, 80));             // straddles the gap
  EXPECT_FALSE(list.Release(50, 100));            // ends where the gap ends
  EXPECT_FALSE(list.Release(250, 100));           // runs past the last region
  EXPECT_FALSE(list.Release(0xFFFFFFF0u, 0x20));  // end would wrap
  EXPECT_EQ(list.bounds(), before);
  EXPECT_TRUE(list.Release(200, 0));  // nothing to give back
  EXPECT_EQ(list.bounds(), before);
}

TEST(LeakListTest, IsFreeTellsGapsFromUsedSpace) {
  LeakList list(Bounds{0, 16, 32, 48});
  EXPECT_TRUE(list.IsFree(16, 16));
  EXPECT_FALSE(list.IsFree(16, 17));
  EXPECT_FALSE(list.IsFree(8, 4));
  EXPECT_FALSE(list.IsFree(40, 1));
  EXPECT_TRUE(list.IsFree(48, 1000));
  EXPECT_TRUE(LeakList().IsFree(16, 16));
}

// Claims and releases in place keep the list equal to one built from the
// regions that remain.
TEST(LeakListTest, InPlaceUpdatesMatchARebuild) {
  struct Region {
    std::uint32_t start, size;
  };
  std::vector<Region> used = {{0, 16}, {16, 16}};
  LeakList list = Normalized({0, 16, 16, 32});
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int step = 0; step < 2000; ++step) {
    if (used.size() > 2 && next() % 3 == 0) {
      const std::size_t victim = 2 + next() % (used.size() - 2);
      ASSERT_TRUE(list.Release(used[victim].start, used[victim].size));
      used.erase(used.begin() + static_cast<std::ptrdiff_t>(victim));
    } else {
      const std::uint32_t size = 1 + next() % 64;
      std::uint32_t start = 0;
      ASSERT_TRUE(list.FindLeakData(size, kLimit, &start));
      ASSERT_TRUE(list.Claim(start, size));
      used.push_back({start, size});
    }
    LeakList rebuilt;
    rebuilt.Reset(2 * used.size());
    for (const Region& region : used) rebuilt.AppendRegion(region.start, region.size);
    rebuilt.Normalize();
    ASSERT_EQ(list.bounds(), rebuilt.bounds()) << "step " << step;
  }
}

}  // namespace
}  // namespace pkfs

// The free-space list under random claims, releases, placements and
// rebuilds, checked after every step against a plain interval set of used
// bytes: the list's boundaries are always exactly the set's merged regions,
// and every answer agrees with the set.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <vector>

#include "fuzz_support.h"
#include "leak_list.h"

namespace {

constexpr std::uint64_t kTop = 0xFFFFFFFFull;  // the last offset a region may end at

// Used regions as start -> end, disjoint and never touching (merged).
class IntervalSet {
 public:
  void Add(std::uint64_t start, std::uint64_t end) {
    if (start >= end) return;
    auto it = used_.lower_bound(start);
    if (it != used_.begin() && std::prev(it)->second >= start) --it;
    while (it != used_.end() && it->first <= end) {
      start = std::min(start, it->first);
      end = std::max(end, it->second);
      it = used_.erase(it);
    }
    used_[start] = end;
  }
  void Remove(std::uint64_t start, std::uint64_t end) {
    auto it = Containing(start);
    FUZZ_CHECK(it != used_.end() && end <= it->second, "the model removes inside one region");
    const std::uint64_t regionStart = it->first;
    const std::uint64_t regionEnd = it->second;
    used_.erase(it);
    if (regionStart < start) used_[regionStart] = start;
    if (end < regionEnd) used_[end] = regionEnd;
  }
  // The region with start <= offset < end, or end().
  std::map<std::uint64_t, std::uint64_t>::const_iterator Containing(std::uint64_t offset) const {
    auto it = used_.upper_bound(offset);
    if (it == used_.begin()) return used_.end();
    --it;
    return offset < it->second ? it : used_.end();
  }
  bool Intersects(std::uint64_t start, std::uint64_t end) const {
    auto it = used_.lower_bound(start);
    if (it != used_.end() && it->first < end) return true;
    return Containing(start) != used_.end();
  }
  bool EndsARegion(std::uint64_t offset) const {
    for (const auto& region : used_) {
      if (region.second == offset) return true;
    }
    return false;
  }
  std::vector<std::uint32_t> Bounds() const {
    std::vector<std::uint32_t> bounds;
    for (const auto& region : used_) {
      bounds.push_back(static_cast<std::uint32_t>(region.first));
      bounds.push_back(static_cast<std::uint32_t>(region.second));
    }
    return bounds;
  }
  const std::map<std::uint64_t, std::uint64_t>& regions() const { return used_; }

 private:
  std::map<std::uint64_t, std::uint64_t> used_;
};

// Strict first fit over the gaps between regions, else the end of the last one.
bool ModelFind(const IntervalSet& model, std::uint32_t size, std::uint32_t limit,
               std::uint32_t* start) {
  std::uint64_t previousEnd = 0;
  bool first = true;
  for (const auto& region : model.regions()) {
    if (!first && region.first - previousEnd > size) {
      *start = static_cast<std::uint32_t>(previousEnd);
      return true;
    }
    previousEnd = region.second;
    first = false;
  }
  *start = static_cast<std::uint32_t>(previousEnd);
  return limit > *start && limit - *start > size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  // Offsets live in a small window, either at the bottom of the 32-bit range
  // or right under its top, where an end computed carelessly would wrap.
  const std::uint64_t base = input.Bool() ? kTop - 0x4000 : 0;
  auto offset = [&] { return base + input.Below(0x4000); };
  auto length = [&]() -> std::uint64_t {
    const std::uint8_t kind = input.U8();
    if (kind < 8) return 0xFFFFFFFFull - input.U8();  // reaches past the top
    return input.Below(kind < 128 ? 64 : 0x1000);
  };

  pkfs::LeakList list;
  IntervalSet model;
  if (input.Bool()) {
    model.Add(0, 16);  // a new volume's list: the header
  } else {
    // A rebuild from disjoint regions, appended in any order (touching
    // regions and empty ones included).
    const std::size_t count = input.Below(12);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> regions;
    std::uint64_t at = base;
    for (std::size_t i = 0; i < count && at < base + 0x4000; ++i) {
      at += input.Below(4) == 0 ? 0 : input.Below(256);
      const std::uint64_t end = std::min<std::uint64_t>(at + input.Below(256), base + 0x4000);
      regions.emplace_back(at, end);
      at = end;
    }
    const std::uint32_t rotate = regions.empty() ? 0 : input.Below(regions.size());
    list.Reset(regions.size() * 2);
    for (std::size_t i = 0; i < regions.size(); ++i) {
      const auto& region = regions[(i + rotate) % regions.size()];
      list.AppendRegion(static_cast<std::uint32_t>(region.first),
                        static_cast<std::uint32_t>(region.second - region.first));
      model.Add(region.first, region.second);
    }
    list.Normalize();
  }
  FUZZ_CHECK(list.bounds() == model.Bounds(), "a built list is the merged regions");

  while (!input.empty()) {
    const std::uint8_t op = input.U8() % 4;
    const std::uint64_t start = offset();
    const std::uint64_t len = length();
    const bool fits = start + len <= kTop;
    const auto start32 = static_cast<std::uint32_t>(start);
    const auto len32 = static_cast<std::uint32_t>(len);
    switch (op) {
      case 0: {  // place, then claim where placed
        const std::uint32_t limit = static_cast<std::uint32_t>(base) + input.Below(0x5000);
        std::uint32_t found = 0;
        std::uint32_t expected = 0;
        const bool placed = list.FindLeakData(len32, limit, &found);
        FUZZ_CHECK(placed == ModelFind(model, len32, limit, &expected), "placement answer");
        FUZZ_CHECK(found == expected, "placement start");
        if (placed) {
          FUZZ_CHECK(!model.Intersects(found, std::uint64_t{found} + len32), "a placement is free");
          // Every placement is the end of a region, except on an empty list.
          const bool claimable = model.EndsARegion(found);
          FUZZ_CHECK(claimable || model.regions().empty(), "a placement follows a region");
          FUZZ_CHECK(list.Claim(found, len32) == claimable, "a placement can be claimed");
          if (claimable) model.Add(found, std::uint64_t{found} + len32);
        }
        break;
      }
      case 1: {  // claim anywhere: only the end of a region grows, into free space
        const bool expected =
            fits && model.EndsARegion(start) && !model.Intersects(start, start + len);
        FUZZ_CHECK(list.Claim(start32, len32) == expected, "claim answer");
        if (expected) model.Add(start, start + len);
        break;
      }
      case 2: {  // release: only inside one used region
        bool expected = true;
        if (len != 0 && !model.regions().empty()) {
          auto region = model.Containing(start);
          expected = fits && region != model.regions().end() && start + len <= region->second;
        }
        FUZZ_CHECK(list.Release(start32, len32) == expected, "release answer");
        if (expected && len != 0 && !model.regions().empty()) model.Remove(start, start + len);
        break;
      }
      case 3: {  // free test
        const bool expected = fits && model.Containing(start) == model.regions().end() &&
                              !model.Intersects(start, start + len);
        FUZZ_CHECK(list.IsFree(start32, len32) == expected, "free answer");
        break;
      }
    }
    FUZZ_CHECK(list.bounds() == model.Bounds(), "the list is the merged regions");
  }
  return 0;
}

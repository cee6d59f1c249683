// Used regions and gaps of a volume as a sorted list of boundaries.
#include "leak_list.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace pkfs {

namespace {

// Index of the first boundary equal to value, or npos.
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

std::size_t FirstEqual(const std::vector<std::uint32_t>& bounds, std::uint32_t value) {
  // The list is sorted, so the first equal boundary is the lower bound.
  auto it = std::lower_bound(bounds.begin(), bounds.end(), value);
  if (it == bounds.end() || *it != value) return kNone;
  return static_cast<std::size_t>(it - bounds.begin());
}

bool EndFits(std::uint32_t start, std::uint32_t length) {
  return length <= std::numeric_limits<std::uint32_t>::max() - start;
}

}  // namespace

void LeakList::Reset(std::size_t reserve) {
  bounds_.clear();
  bounds_.reserve(reserve);
}

void LeakList::AppendRegion(std::uint32_t start, std::uint32_t size) {
  bounds_.push_back(start);
  bounds_.push_back(start + size);
}

void LeakList::Normalize() {
  if (!std::is_sorted(bounds_.begin(), bounds_.end())) std::sort(bounds_.begin(), bounds_.end());
  // Equal neighbours are where one used region ends and the next begins:
  // dropping the pair joins them. Done in one pass by compaction.
  std::size_t out = 0;
  for (std::uint32_t value : bounds_) {
    if (out > 0 && bounds_[out - 1] == value) {
      --out;
    } else {
      bounds_[out++] = value;
    }
  }
  bounds_.resize(out);
}

bool LeakList::FindLeakData(std::uint32_t size, std::uint32_t limit, std::uint32_t* start) const {
  const std::size_t n = bounds_.size();
  for (std::size_t i = 1; i + 1 < n; i += 2) {
    if (bounds_[i + 1] - bounds_[i] > size) {
      *start = bounds_[i];
      return true;
    }
  }
  *start = n == 0 ? 0 : bounds_[n - 1];
  return limit > *start && limit - *start > size;
}

bool LeakList::Claim(std::uint32_t start, std::uint32_t size) {
  std::size_t i = FirstEqual(bounds_, start);
  // Only the end of a used region can grow into the gap after it, and only
  // as far as that gap reaches.
  if (i == kNone || i % 2 == 0 || !EndFits(start, size)) return false;
  const std::uint32_t end = start + size;
  if (i + 1 < bounds_.size() && end > bounds_[i + 1]) return false;
  bounds_[i] = end;
  if (i + 1 < bounds_.size() && bounds_[i + 1] == end) {
    bounds_.erase(bounds_.begin() + static_cast<std::ptrdiff_t>(i),
                  bounds_.begin() + static_cast<std::ptrdiff_t>(i + 2));
  }
  return true;
}

bool LeakList::Release(std::uint32_t start, std::uint32_t length) {
  if (bounds_.empty() || length == 0) return true;
  if (!EndFits(start, length)) return false;
  const std::uint32_t end = start + length;
  const std::size_t n = bounds_.size();

  std::size_t i = FirstEqual(bounds_, start);
  if (i != kNone) {
    if (i % 2 == 1) return false;  // start closes a used region: already free
    if (i + 1 >= n || end > bounds_[i + 1]) return false;  // reaches past its region
    bounds_[i] = end;
    if (bounds_[i] == bounds_[i + 1]) {
      bounds_.erase(bounds_.begin() + static_cast<std::ptrdiff_t>(i),
                    bounds_.begin() + static_cast<std::ptrdiff_t>(i + 2));
    }
    return true;
  }

  i = FirstEqual(bounds_, end);
  if (i != kNone) {
    if (i % 2 == 0) return false;
    if (start < bounds_[i - 1]) return false;  // starts before its region
    bounds_[i] = start;
    if (bounds_[i - 1] == bounds_[i]) {
      bounds_.erase(bounds_.begin() + static_cast<std::ptrdiff_t>(i - 1),
                    bounds_.begin() + static_cast<std::ptrdiff_t>(i + 1));
    }
    return true;
  }

  if (n % 2 == 1) return false;
  // The used region that contains start strictly inside; the released range
  // must end inside it too, or it would straddle a gap.
  auto it = std::upper_bound(bounds_.begin(), bounds_.end(), start);
  std::size_t after = static_cast<std::size_t>(it - bounds_.begin());
  if (after == 0 || after >= n || after % 2 == 0) return false;
  if (end >= bounds_[after]) return false;
  const std::uint32_t inserted[2] = {start, end};
  bounds_.insert(bounds_.begin() + static_cast<std::ptrdiff_t>(after), inserted, inserted + 2);
  return true;
}

bool LeakList::IsFree(std::uint32_t start, std::uint32_t length) const {
  if (!EndFits(start, length)) return false;
  // The boundary after start must open a gap's end (an even index: the start
  // of a used region) no earlier than start + length.
  auto it = std::upper_bound(bounds_.begin(), bounds_.end(), start);
  std::size_t after = static_cast<std::size_t>(it - bounds_.begin());
  if (after % 2 == 1) return false;  // start lies inside a used region
  if (after == bounds_.size()) return true;
  return start + length <= bounds_[after];
}

}  // namespace pkfs

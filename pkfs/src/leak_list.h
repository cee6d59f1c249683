// The used regions and free gaps of one volume, as a sorted list of region
// boundaries: [b0,b1), [b2,b3), ... are used; [b1,b2), ... and everything
// after the last boundary are free. Pure: touches no file.
#ifndef PKFS_LEAK_LIST_H_
#define PKFS_LEAK_LIST_H_

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace pkfs {

class LeakList {
 public:
  LeakList() : bounds_{0, 16} {}
  explicit LeakList(std::vector<std::uint32_t> bounds) : bounds_(std::move(bounds)) {}

  // Empties the list (for a rebuild) and reserves room.
  void Reset(std::size_t reserve);
  // Appends the region [start, start + size) unsorted; Normalize afterwards.
  void AppendRegion(std::uint32_t start, std::uint32_t size);
  // Sorts ascending and erases pairs of equal neighbours.
  void Normalize();

  // Strict first fit: the first gap strictly larger than size, else the end
  // of the last used region when limit - end > size. start is set in every case.
  bool FindLeakData(std::uint32_t size, std::uint32_t limit, std::uint32_t* start) const;
  // Marks [start, start + size) used. False, leaving the list unchanged, when
  // no boundary equals start (the caller then rebuilds).
  bool Claim(std::uint32_t start, std::uint32_t size);
  // Frees [start, start + length). False, leaving the list unchanged, when the
  // list rules cannot place it (already free, straddling a gap).
  bool Release(std::uint32_t start, std::uint32_t length);

  // True when [start, start + length) lies wholly in one gap or after the
  // last used region.
  bool IsFree(std::uint32_t start, std::uint32_t length) const;
  const std::vector<std::uint32_t>& bounds() const { return bounds_; }

 private:
  std::vector<std::uint32_t> bounds_;
};

}  // namespace pkfs

#endif  // PKFS_LEAK_LIST_H_

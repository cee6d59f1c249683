// The move-to-front list through which bzip2 codes a block's byte values.
#ifndef MAROVETIN_LAUNCHER_BZIP2_MOVE_TO_FRONT_H_
#define MAROVETIN_LAUNCHER_BZIP2_MOVE_TO_FRONT_H_

#include <cstdint>
#include <cstring>

namespace launcher {
namespace bzip2 {

// Nearly every index taken falls among the first sixteen entries. Those
// live in two 64-bit words (entry i in bits 8i .. 8i+7 of its word), which
// the compiler keeps in registers when the list is a local variable: a
// move is a few shifts and masks, and only the rarer deeper takes move
// memory.
class MoveToFrontList {
 public:
  // The list of count values (1..256), in the given order.
  void Reset(const std::uint8_t* values, int count) {
    std::uint8_t list[256] = {};
    std::memcpy(list, values, static_cast<std::size_t>(count));
    low_ = Word(list);
    high_ = Word(list + 8);
    std::memcpy(rest_, list + 16, sizeof rest_);
  }

  std::uint8_t Front() const { return static_cast<std::uint8_t>(low_); }

  // Moves entry index (below the count given to Reset) to the front,
  // shifting the entries before it back by one, and returns it.
  std::uint8_t Take(int index) {
    if (index < 8) return TakeFromWord(low_, index * 8);
    const std::uint8_t carried = static_cast<std::uint8_t>(low_ >> 56);
    std::uint8_t value;
    if (index < 16) {
      value = TakeFromWord(high_, (index - 8) * 8);
      high_ = (high_ & ~std::uint64_t{0xFF}) | carried;
    } else {
      const int deep = index - 16;
      value = rest_[deep];
      std::memmove(rest_ + 1, rest_, static_cast<std::size_t>(deep));
      rest_[0] = static_cast<std::uint8_t>(high_ >> 56);
      high_ = (high_ << 8) | carried;
    }
    low_ = (low_ << 8) | value;
    return value;
  }

 private:
  static std::uint64_t Word(const std::uint8_t* entries) {
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = (word << 8) | entries[i];
    return word;
  }

  // Takes the entry at bit shift of word to its front; the entries before
  // it move back by one, and the ones after stay.
  static std::uint8_t TakeFromWord(std::uint64_t& word, int shift) {
    const auto value = static_cast<std::uint8_t>(word >> shift);
    const std::uint64_t before = (std::uint64_t{1} << shift) - 1;
    const std::uint64_t upToIt = (before << 8) | 0xFF;
    word = (word & ~upToIt) | ((word & before) << 8) | value;
    return value;
  }

  std::uint64_t low_;   // entries 0..7
  std::uint64_t high_;  // entries 8..15
  std::uint8_t rest_[256 - 16];
};

}  // namespace bzip2
}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_MOVE_TO_FRONT_H_

// The move-to-front list through which bzip2 codes a block's byte values.
#ifndef MAROVETIN_LAUNCHER_BZIP2_MOVE_TO_FRONT_H_
#define MAROVETIN_LAUNCHER_BZIP2_MOVE_TO_FRONT_H_

#include <cstdint>
#include <cstring>

#if defined(__SIZEOF_INT128__) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define MAROVETIN_BZIP2_FRONT_WORD 1
#endif

namespace launcher {
namespace bzip2 {

// Nearly every index taken falls among the first sixteen entries: where the
// compiler offers 128-bit integers, those live in one register-held word,
// the move is a few shifts and masks, and only the rarer deeper takes move
// memory.
class MoveToFrontList {
 public:
  // The list of count values (1..256), in the given order.
  void Reset(const std::uint8_t* values, int count) {
    std::uint8_t list[256] = {};
    std::memcpy(list, values, static_cast<std::size_t>(count));
#ifdef MAROVETIN_BZIP2_FRONT_WORD
    std::memcpy(&front_, list, sizeof front_);
    std::memcpy(rest_, list + kFrontEntries, sizeof rest_);
#else
    std::memcpy(list_, list, sizeof list_);
#endif
  }

  std::uint8_t Front() const {
#ifdef MAROVETIN_BZIP2_FRONT_WORD
    return static_cast<std::uint8_t>(front_);
#else
    return list_[0];
#endif
  }

  // Moves entry index (below the count given to Reset) to the front,
  // shifting the entries before it back by one, and returns it.
  std::uint8_t Take(int index) {
#ifdef MAROVETIN_BZIP2_FRONT_WORD
    if (index < kFrontEntries) {
      const int shift = index * 8;
      const auto value = static_cast<std::uint8_t>(front_ >> shift);
      const Word before = (Word{1} << shift) - 1;          // entries 0 .. index-1
      const Word upToIndex = ((Word{1} << shift) << 8) - 1;  // entries 0 .. index
      front_ = (front_ & ~upToIndex) | ((front_ & before) << 8) | value;
      return value;
    }
    const int deep = index - kFrontEntries;
    const std::uint8_t value = rest_[deep];
    std::memmove(rest_ + 1, rest_, static_cast<std::size_t>(deep));
    rest_[0] = static_cast<std::uint8_t>(front_ >> (8 * (kFrontEntries - 1)));
    front_ = (front_ << 8) | value;
    return value;
#else
    const std::uint8_t value = list_[index];
    std::memmove(list_ + 1, list_, static_cast<std::size_t>(index));
    list_[0] = value;
    return value;
#endif
  }

 private:
#ifdef MAROVETIN_BZIP2_FRONT_WORD
  using Word = unsigned __int128;
  static constexpr int kFrontEntries = 16;
  Word front_;  // entry i in bits 8i .. 8i+7
  std::uint8_t rest_[256 - kFrontEntries];
#else
  std::uint8_t list_[256];
#endif
};

}  // namespace bzip2
}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_MOVE_TO_FRONT_H_

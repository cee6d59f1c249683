// Reads a bzip2 file's bits, most significant first, out of memory.
#ifndef MAROVETIN_LAUNCHER_BZIP2_BIT_READER_H_
#define MAROVETIN_LAUNCHER_BZIP2_BIT_READER_H_

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace launcher {
namespace bzip2 {

// The next bits sit at the top of a 64-bit word. Past the end of the input
// the reader delivers zero bits and remembers that it did: Overrun() tells
// the decoder, which checks it often enough that no garbage it reads can
// cost more than a bounded amount of work.
class BitReader {
 public:
  BitReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  // After it, at least 56 bits are buffered.
  void Refill() {
    if (next_ + 8 <= size_) {
      // One unaligned load of eight bytes; the bits below the whole bytes
      // counted are the following input's, so the next refill, which ORs
      // them in again at the same place, leaves them unchanged.
      buffer_ |= platform::LoadU64BigEndian(data_ + next_) >> count_;
      const int bytes = (63 - count_) >> 3;
      next_ += static_cast<std::size_t>(bytes);
      count_ += bytes * 8;
      return;
    }
    while (count_ <= 56) {
      const std::uint64_t byte = next_ < size_ ? data_[next_] : 0;
      ++next_;
      buffer_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  // Up to 32 bits, refilled first when fewer are buffered.
  std::uint32_t Read(int bits) {
    if (count_ < bits) Refill();
    const std::uint32_t value = Peek(bits);
    Skip(bits);
    return value;
  }
  bool ReadBit() { return Read(1) != 0; }

  // The caller has made sure that count() >= bits >= 1.
  std::uint32_t Peek(int bits) const { return static_cast<std::uint32_t>(buffer_ >> (64 - bits)); }
  void Skip(int bits) {
    buffer_ <<= bits;
    count_ -= bits;
  }
  int count() const { return count_; }

  // Drops the bits up to the next byte boundary.
  void AlignToByte() { Skip(count_ & 7); }

  // Bits taken so far, and whether any of them lay past the end.
  std::uint64_t BitsConsumed() const {
    return static_cast<std::uint64_t>(next_) * 8 - static_cast<std::uint64_t>(count_);
  }
  bool Overrun() const { return BitsConsumed() > static_cast<std::uint64_t>(size_) * 8; }
  bool AtEnd() const { return BitsConsumed() == static_cast<std::uint64_t>(size_) * 8; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t next_ = 0;  // the next byte to load; runs past size_ in the padding
  std::uint64_t buffer_ = 0;
  int count_ = 0;  // valid bits at the top of buffer_
};

}  // namespace bzip2
}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_BIT_READER_H_

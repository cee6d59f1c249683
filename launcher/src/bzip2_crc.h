// The checksum of bzip2 blocks: CRC-32 with polynomial 0x04C11DB7, taken
// most significant bit first, started and finished with all ones.
#ifndef MAROVETIN_LAUNCHER_BZIP2_CRC_H_
#define MAROVETIN_LAUNCHER_BZIP2_CRC_H_

#include <cstddef>
#include <cstdint>

namespace launcher {
namespace bzip2 {

// The checksum of [data, data + size), eight bytes a step.
std::uint32_t BlockCrc(const unsigned char* data, std::size_t size);

// The same taken piece by piece: start from kCrcStart, extend with each piece
// in order, and complement the result.
constexpr std::uint32_t kCrcStart = 0xFFFFFFFFu;
std::uint32_t ExtendCrc(std::uint32_t running, const unsigned char* data, std::size_t size);

// The stream checksum after one more block.
inline std::uint32_t CombineStreamCrc(std::uint32_t stream, std::uint32_t block) {
  return ((stream << 1) | (stream >> 31)) ^ block;
}

}  // namespace bzip2
}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_CRC_H_

// Reading and writing of on-disk integers: little-endian (the pack format),
// and big-endian reads (the bzip2 format).
#ifndef MAROVETIN_PLATFORM_BYTE_ORDER_H_
#define MAROVETIN_PLATFORM_BYTE_ORDER_H_

#include <cstdint>

namespace platform {

inline std::uint32_t LoadU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void StoreU32(unsigned char* p, std::uint32_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
  p[2] = static_cast<unsigned char>(value >> 16);
  p[3] = static_cast<unsigned char>(value >> 24);
}

inline std::uint32_t LoadU32BigEndian(const unsigned char* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

inline std::uint64_t LoadU64BigEndian(const unsigned char* p) {
  return (static_cast<std::uint64_t>(LoadU32BigEndian(p)) << 32) | LoadU32BigEndian(p + 4);
}

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_BYTE_ORDER_H_

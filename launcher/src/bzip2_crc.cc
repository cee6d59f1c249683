#include "bzip2_crc.h"

#include <array>

#include "platform/byte_order.h"

namespace launcher {
namespace bzip2 {
namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7;

// tables[k][b]: the effect of byte b followed by k zero bytes, so that eight
// bytes are folded in with eight independent look-ups.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

CrcTables MakeTables() {
  CrcTables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : crc << 1;
    tables[0][byte] = crc;
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (std::size_t byte = 0; byte < 256; ++byte) {
      const std::uint32_t previous = tables[k - 1][byte];
      tables[k][byte] = (previous << 8) ^ tables[0][previous >> 24];
    }
  }
  return tables;
}

}  // namespace

std::uint32_t BlockCrc(const unsigned char* data, std::size_t size) {
  return ~ExtendCrc(kCrcStart, data, size);
}

std::uint32_t ExtendCrc(std::uint32_t running, const unsigned char* data, std::size_t size) {
  static const CrcTables tables = MakeTables();
  const auto& t = tables;
  std::uint32_t crc = running;
  for (; size >= 8; data += 8, size -= 8) {
    const std::uint32_t high = crc ^ platform::LoadU32BigEndian(data);
    const std::uint32_t low = platform::LoadU32BigEndian(data + 4);
    crc = t[7][high >> 24] ^ t[6][(high >> 16) & 0xFF] ^ t[5][(high >> 8) & 0xFF] ^
          t[4][high & 0xFF] ^ t[3][low >> 24] ^ t[2][(low >> 16) & 0xFF] ^ t[1][(low >> 8) & 0xFF] ^
          t[0][low & 0xFF];
  }
  for (; size > 0; ++data, --size) crc = (crc << 8) ^ t[0][(crc >> 24) ^ *data];
  return crc;
}

}  // namespace bzip2
}  // namespace launcher

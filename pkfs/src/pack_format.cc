// Header and trailer records of a pack volume, and the directory checksum.
#include "pkfs/pack_format.h"

#include <cstring>

#include "platform/byte_order.h"

namespace pkfs {

void PackHeader::Serialize(unsigned char out[kPackHeaderBytes]) const {
  std::memcpy(out, magic, 4);
  platform::StoreU32(out + 4, tableOffset);
  platform::StoreU32(out + 8, tableSize);
  platform::StoreU32(out + 12, headCount);
}

PackHeader PackHeader::Parse(const unsigned char in[kPackHeaderBytes]) {
  PackHeader header;
  std::memcpy(header.magic, in, 4);
  header.tableOffset = platform::LoadU32(in + 4);
  header.tableSize = platform::LoadU32(in + 8);
  header.headCount = platform::LoadU32(in + 12);
  return header;
}

bool PackHeader::HasMagic() const { return std::memcmp(magic, "PACK", 4) == 0; }

std::size_t PackTrailer::ParseBody(const unsigned char* body, std::size_t available) {
  if (available < 8) return 0;
  std::uint32_t length = platform::LoadU32(body + 4);
  if (length > available - 8) return 0;
  checksum = platform::LoadU32(body);
  nameLength = length;
  nextName.assign(reinterpret_cast<const char*>(body + 8), length);
  return BodySize();
}

std::size_t PackTrailer::SerializeBody(unsigned char* out) {
  nameLength = static_cast<std::uint32_t>(nextName.size());
  platform::StoreU32(out, checksum);
  platform::StoreU32(out + 4, nameLength);
  if (!nextName.empty()) std::memcpy(out + 8, nextName.data(), nextName.size());
  return BodySize();
}

std::uint32_t PackTrailer::BodySize() const {
  return static_cast<std::uint32_t>(nextName.size()) + 8;
}

std::size_t PackTrailer::Parse(const unsigned char* data, std::size_t available) {
  if (available < 8) return 0;
  // Tag and body size are kept as read; neither is trusted for anything.
  std::memcpy(tag, data, 4);
  bodySize = platform::LoadU32(data + 4);
  std::size_t body = ParseBody(data + 8, available - 8);
  if (body == 0) return 0;
  return 8 + body;
}

std::size_t PackTrailer::Serialize(unsigned char* out) {
  std::memcpy(out, tag, 4);
  bodySize = BodySize();
  platform::StoreU32(out + 4, bodySize);
  return 8 + SerializeBody(out + 8);
}

void PackTrailer::Refresh(const std::string* nextVolumeName) {
  if (nextVolumeName != nullptr) {
    nextName = *nextVolumeName;
    nameLength = static_cast<std::uint32_t>(nextName.size());
  }
  bodySize = BodySize();
}

std::uint32_t ByteSum(const unsigned char* data, std::size_t length) {
  // Every directory write sums all its records, so the bytes are added eight
  // at a time: the even and odd bytes of a word go into four 16-bit lanes,
  // which cannot overflow within a block of 128 words (128 * 2 * 255 < 2^16).
  constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
  constexpr std::size_t kBlockWords = 128;
  std::uint64_t total = 0;
  std::size_t i = 0;
  while (length - i >= 8) {
    std::uint64_t lanes = 0;
    for (std::size_t word = 0; word < kBlockWords && length - i >= 8; ++word, i += 8) {
      std::uint64_t value;
      std::memcpy(&value, data + i, sizeof value);
      lanes += (value & kLowBytes) + ((value >> 8) & kLowBytes);
    }
    total += (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
  }
  for (; i < length; ++i) total += data[i];
  return static_cast<std::uint32_t>(total);
}

void EncodeDirectoryBlock(const DirectoryFilter& filter, unsigned char* data, std::size_t length) {
  if (length > 0 && filter.encode) filter.encode(data, length);
}

void DecodeDirectoryBlock(const DirectoryFilter& filter, unsigned char* data, std::size_t length) {
  if (length > 0 && filter.decode) filter.decode(data, length);
}

}  // namespace pkfs

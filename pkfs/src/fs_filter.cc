// The byte filter. Encoding moves the even-bit plane (0x55) one byte towards
// the start, wrapping the first byte's even bits round to the last byte;
// decoding moves it back. Both run in one pass over the buffer, in place,
// eight bytes at a time.
#include "pkfs/fs_filter.h"

#include <cstring>

#include "pkfs/file_head.h"
#include "pkfs/fs.h"
#include "pkfs/fs_file.h"
#include "pkfs/scope_timer.h"

namespace pkfs {

namespace {

constexpr std::uint64_t kOddBits = 0xAAAAAAAAAAAAAAAAull;
constexpr std::uint64_t kEvenBits = 0x5555555555555555ull;
constexpr unsigned char kOddByte = 0xAA;
constexpr unsigned char kEvenByte = 0x55;

// Byte i of the buffer is bits 8i..8i+7 of the word on every host.
inline std::uint64_t LoadWord(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

inline void StoreWord(unsigned char* p, std::uint64_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  std::memcpy(p, &word, sizeof word);
}

inline unsigned char Mix(unsigned char keepOdd, unsigned char takeEven) {
  return static_cast<unsigned char>((keepOdd & kOddByte) | (takeEven & kEvenByte));
}

// Reads one stored byte of the handle's entry at position (raw, no window,
// no filter) and puts the handle back where it was. 0 when nothing is there.
unsigned char ReadEntryByte(CFSFile* handle, std::int32_t offset, int origin) {
  const std::int32_t saved = handle->position;
  handle->Seek(offset, origin);
  unsigned char byte = 0;
  if (handle->owner != nullptr && handle->position >= 0) {
    handle->owner->Read(&byte, 1, handle);
  }
  handle->Seek(saved, 0);
  return byte;
}

}  // namespace

void EncodeWithCarry(unsigned char* buffer, std::uint32_t length, unsigned char carry) {
  if (length == 0) return;
  std::uint32_t i = 0;
  // b[i] takes the even bits of b[i+1]: within a word that is the word shifted
  // down one byte, with the top byte taken from the next (still unchanged)
  // byte of the buffer.
  for (; i + 8 < length; i += 8) {
    const std::uint64_t word = LoadWord(buffer + i);
    const std::uint64_t next = (word >> 8) | (static_cast<std::uint64_t>(buffer[i + 8]) << 56);
    StoreWord(buffer + i, (word & kOddBits) | (next & kEvenBits));
  }
  for (; i + 1 < length; ++i) buffer[i] = Mix(buffer[i], buffer[i + 1]);
  buffer[length - 1] = Mix(buffer[length - 1], carry);
}

void DecodeWithCarry(unsigned char* buffer, std::uint32_t length, unsigned char carry) {
  std::uint32_t i = 0;
  // b[i] takes the even bits of the stored b[i-1]: the word shifted up one
  // byte, with the bottom byte from the previous word's stored top byte.
  for (; i + 8 <= length; i += 8) {
    const std::uint64_t word = LoadWord(buffer + i);
    const std::uint64_t previous = (word << 8) | carry;
    carry = static_cast<unsigned char>(word >> 56);
    StoreWord(buffer + i, (word & kOddBits) | (previous & kEvenBits));
  }
  for (; i < length; ++i) {
    const unsigned char stored = buffer[i];
    buffer[i] = Mix(stored, carry);
    carry = stored;
  }
}

void EncodeBuffer(unsigned char* buffer, std::uint32_t length) {
  if (length == 0) return;
  EncodeWithCarry(buffer, length, buffer[0]);
}

void DecodeBuffer(unsigned char* buffer, std::uint32_t length) {
  if (length == 0) return;
  DecodeWithCarry(buffer, length, buffer[length - 1]);
}

bool CFSFilter::Encode(unsigned char* buffer, std::uint32_t length, CFSFile* handle) {
  ScopeTimer timer("Encode");
  if (length == 0 || buffer == nullptr) return true;
  if (handle == nullptr || handle->entry == nullptr) {
    EncodeBuffer(buffer, length);
    return true;
  }
  // The piece's last byte takes its even bits from the entry's byte just after
  // the piece, or from the entry's first byte when the piece ends the entry:
  // the mirror image of the piecewise decode below.
  const std::int64_t after = static_cast<std::int64_t>(handle->position) + length;
  const bool endsEntry = after >= static_cast<std::int64_t>(handle->entry->size);
  const unsigned char carry =
      ReadEntryByte(handle, endsEntry ? 0 : static_cast<std::int32_t>(after), 0);
  EncodeWithCarry(buffer, length, carry);
  return true;
}

bool CFSFilter::Decode(unsigned char* buffer, std::uint32_t length, CFSFile* handle) {
  ScopeTimer timer("Decode");
  if (length == 0 || buffer == nullptr) return true;
  if (handle == nullptr) {
    DecodeBuffer(buffer, length);
    return true;
  }
  // The first byte of the piece takes its even bits from the stored byte
  // before it; the entry's first byte takes them from its last (offset 1 from
  // the end selects it).
  const std::int32_t p = handle->position;
  const unsigned char carry = p > 0 ? ReadEntryByte(handle, p - 1, 0) : ReadEntryByte(handle, 1, 2);
  DecodeWithCarry(buffer, length, carry);
  return true;
}

}  // namespace pkfs

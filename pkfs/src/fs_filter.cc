// The byte filter. Encoding moves the even-bit plane (0x55) one byte towards
// the start, wrapping the first byte's even bits round to the last byte;
// decoding moves it back. Both run in one pass over the buffer, in place,
// sixteen bytes at a time where the compiler offers vector types.
#include "pkfs/fs_filter.h"

#include <cstring>

#include "pkfs/file_head.h"
#include "pkfs/fs.h"
#include "pkfs/fs_file.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

constexpr unsigned char kOddByte = 0xAA;
constexpr unsigned char kEvenByte = 0x55;
#if defined(__GNUC__)
// The compilers' portable vector type (byte-wise operations only, so the
// host's byte order does not matter); plain loops handle the rest.
typedef unsigned char Block16 __attribute__((vector_size(16)));
constexpr std::uint32_t kBlockBytes = sizeof(Block16);
#endif

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
  // b[i] takes the even bits of b[i+1], which the pass has not changed yet:
  // walking up from the start keeps every read ahead of the writes.
  std::size_t i = 0;  // wide enough that i + kBlockBytes cannot wrap
#if defined(__GNUC__)
  for (; i + kBlockBytes < length; i += kBlockBytes) {
    Block16 plain;
    Block16 after;
    std::memcpy(&plain, buffer + i, kBlockBytes);
    std::memcpy(&after, buffer + i + 1, kBlockBytes);
    plain = (plain & kOddByte) | (after & kEvenByte);
    std::memcpy(buffer + i, &plain, kBlockBytes);
  }
#endif
  for (; i + 1 < length; ++i) buffer[i] = Mix(buffer[i], buffer[i + 1]);
  buffer[length - 1] = Mix(buffer[length - 1], carry);
}

void DecodeWithCarry(unsigned char* buffer, std::uint32_t length, unsigned char carry) {
  if (length == 0) return;
  // b[i] takes the even bits of the stored b[i-1]. Walking down from the end
  // reads each b[i-1] before the pass changes it, so the pass stays in place.
  std::uint32_t end = length;
#if defined(__GNUC__)
  // Sixteen bytes at a time: the block and the same block one byte lower are
  // both loaded before the block is stored.
  for (; end >= kBlockBytes + 1; end -= kBlockBytes) {
    unsigned char* block = buffer + end - kBlockBytes;
    Block16 stored;
    Block16 before;
    std::memcpy(&stored, block, kBlockBytes);
    std::memcpy(&before, block - 1, kBlockBytes);
    stored = (stored & kOddByte) | (before & kEvenByte);
    std::memcpy(block, &stored, kBlockBytes);
  }
#endif
  for (std::uint32_t i = end - 1; i > 0; --i) buffer[i] = Mix(buffer[i], buffer[i - 1]);
  buffer[0] = Mix(buffer[0], carry);
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

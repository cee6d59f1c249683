// The keyless, length-preserving byte filter that scrambles selected files and
// every volume's header and directory: each byte keeps its odd bits (0xAA) and
// takes the even bits (0x55) of the byte after it; the last byte takes them
// from the first.
#ifndef PKFS_FS_FILTER_H_
#define PKFS_FS_FILTER_H_

#include <cstdint>

namespace pkfs {

class CFSFile;

class CFSFilter {
 public:
  explicit CFSFilter(std::uint32_t filterId = 0) : id(filterId) {}
  virtual ~CFSFilter() = default;

  // Scrambles buffer in place. With a handle, buffer is a piece of that
  // handle's entry starting at the handle's position, and the carry comes from
  // the entry itself, so that encoding piece by piece equals encoding whole.
  virtual bool Encode(unsigned char* buffer, std::uint32_t length, CFSFile* handle);

  // Restores buffer in place; the handle form takes its carry from the stored
  // byte before the piece (or the entry's last byte for a piece at 0).
  virtual bool Decode(unsigned char* buffer, std::uint32_t length, CFSFile* handle);

  std::uint32_t id;
};

// The whole-buffer transforms, usable without a filter object.
void EncodeBuffer(unsigned char* buffer, std::uint32_t length);
void DecodeBuffer(unsigned char* buffer, std::uint32_t length);
// The inner loop of both forms: b[i] := (b[i] & 0xAA) | (next & 0x55), with the
// last byte taking its even bits from carry (Encode) or, for Decode, each
// byte taking them from the stored byte before it (carry for the first).
void DecodeWithCarry(unsigned char* buffer, std::uint32_t length, unsigned char carry);
void EncodeWithCarry(unsigned char* buffer, std::uint32_t length, unsigned char carry);

}  // namespace pkfs

#endif  // PKFS_FS_FILTER_H_

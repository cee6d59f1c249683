// The bytes of a pack volume's header and of its directory's trailer, the
// directory checksum, and how a directory block passes through its filter.
// Pure format: it knows byte order and nothing else. The volume that uses it
// supplies the next volume's name and the filter.
#ifndef PKFS_PACK_FORMAT_H_
#define PKFS_PACK_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace pkfs {

constexpr std::size_t kPackHeaderBytes = 16;
constexpr std::size_t kPackTrailerFixedBytes = 16;  // tag, body size, checksum, name length

// The 16 bytes at offset 0: "PACK", table offset, table size, head count.
// A commit overwrites them in place, after the directory they name is
// durable; they are the one write the format makes in place. That relies on
// a write within one sector being atomic: the header lies in the first 512
// bytes, which storage writes whole, so it names the old directory or the
// new one. A header torn anyway is refused with its reason (no magic, a
// directory outside the file or breaking the format) or names one of the two
// directories, both still whole on disk.
struct PackHeader {
  unsigned char magic[4] = {'P', 'A', 'C', 'K'};
  std::uint32_t tableOffset = 16;
  std::uint32_t tableSize = 0;
  std::uint32_t headCount = 0;

  void Serialize(unsigned char out[kPackHeaderBytes]) const;
  static PackHeader Parse(const unsigned char in[kPackHeaderBytes]);
  bool HasMagic() const;
};

// The last record of every directory this library writes.
class PackTrailer {
 public:
  PackTrailer() = default;
  virtual ~PackTrailer() = default;
  PackTrailer(const PackTrailer&) = default;
  PackTrailer& operator=(const PackTrailer&) = default;

  // Reads checksum, name length and name from the body (8 bytes into the
  // record); returns the body size, or 0 when the body does not fit.
  virtual std::size_t ParseBody(const unsigned char* body, std::size_t available);
  // Sets nameLength from nextName and writes the body; returns its size.
  virtual std::size_t SerializeBody(unsigned char* out);
  virtual std::uint32_t BodySize() const;
  virtual void Reserved(void*) {}

  // The whole record: tag, body size, body. Parse returns 8 + body size, or 0
  // when the record does not fit in available (nothing is then trusted).
  std::size_t Parse(const unsigned char* data, std::size_t available);
  std::size_t Serialize(unsigned char* out);
  std::size_t RecordSize() const { return 8 + BodySize(); }
  // nextName := nextVolumeName when the volume has a next volume (not null);
  // without one the name read from disk stays. bodySize refreshed in every
  // case.
  void Refresh(const std::string* nextVolumeName);

  unsigned char tag[4] = {'P', 'K', 'E', 'S'};
  std::uint32_t bodySize = 0;
  std::uint32_t checksum = 0;
  std::uint32_t nameLength = 0;
  std::string nextName;
};

// Sum of the unsigned byte values, modulo 2^32.
std::uint32_t ByteSum(const unsigned char* data, std::size_t length);

// A transformation of a whole block in place.
using BlockTransform = std::function<void(unsigned char* data, std::size_t length)>;

// How a volume's header and table are stored: encode on the way to disk,
// decode on the way back. An empty transform leaves the bytes as they are.
struct DirectoryFilter {
  BlockTransform encode;
  BlockTransform decode;
};

// Run filter's encode (decode) over a block; nothing for an empty block.
void EncodeDirectoryBlock(const DirectoryFilter& filter, unsigned char* data, std::size_t length);
void DecodeDirectoryBlock(const DirectoryFilter& filter, unsigned char* data, std::size_t length);

}  // namespace pkfs

#endif  // PKFS_PACK_FORMAT_H_

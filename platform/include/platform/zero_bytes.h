// Whether a piece of memory holds only zero bytes: such pieces of a file
// being written may be left as holes, which read as zeros and take no disk.
#ifndef MAROVETIN_PLATFORM_ZERO_BYTES_H_
#define MAROVETIN_PLATFORM_ZERO_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform {

inline bool AllZeroBytes(const unsigned char* data, std::size_t size) {
  // Eight bytes a step; the pieces asked about are large.
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= size; i += sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    if (word != 0) return false;
  }
  for (; i < size; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_ZERO_BYTES_H_

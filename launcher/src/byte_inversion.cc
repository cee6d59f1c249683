#include "launcher/byte_inversion.h"

#include <cstdint>
#include <cstring>

namespace launcher {
namespace {

constexpr std::size_t kBlockBytes = sizeof(std::uint64_t);
// Eight blocks per step: a fixed-size inner loop that the compiler's
// straight-line vectoriser turns into wide loads, complements and stores even
// at -O2, where loops of unknown length are left scalar.
constexpr std::size_t kBlocksPerStep = 8;
constexpr std::size_t kStepBytes = kBlockBytes * kBlocksPerStep;

}  // namespace

void InvertBytesOneByOne(unsigned char* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(~data[i]);
}

void InvertBytesInBlocks(unsigned char* data, std::size_t length) {
  const std::size_t head = length % kBlockBytes;
  InvertBytesOneByOne(data, head);
  unsigned char* p = data + head;
  std::size_t remaining = length - head;

  // memcpy in and out keeps the accesses legal at any alignment; the compiler
  // reduces it to plain (unaligned) loads and stores, and the fixed-count inner
  // loop to a few vector instructions.
  while (remaining >= kStepBytes) {
    for (std::size_t b = 0; b < kBlocksPerStep; ++b) {
      std::uint64_t block;
      std::memcpy(&block, p + b * kBlockBytes, kBlockBytes);
      block = ~block;
      std::memcpy(p + b * kBlockBytes, &block, kBlockBytes);
    }
    p += kStepBytes;
    remaining -= kStepBytes;
  }
  while (remaining >= kBlockBytes) {
    std::uint64_t block;
    std::memcpy(&block, p, kBlockBytes);
    block = ~block;
    std::memcpy(p, &block, kBlockBytes);
    p += kBlockBytes;
    remaining -= kBlockBytes;
  }
}

}  // namespace launcher

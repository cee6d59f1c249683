#include "bzip2_huffman.h"

#include <cstring>

namespace launcher {
namespace bzip2 {

bool HuffmanTable::Build(const std::uint8_t* lengths, int alphabetSize) {
  int countOfLength[kMaxCodeLength + 1] = {};
  for (int symbol = 0; symbol < alphabetSize; ++symbol) ++countOfLength[lengths[symbol]];

  // Complete: the codes' shares of the bit strings, 2^-length each, add up to 1.
  std::uint32_t share = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    share += static_cast<std::uint32_t>(countOfLength[length]) << (kMaxCodeLength - length);
  }
  if (share != (1u << kMaxCodeLength)) return false;

  // Symbols in code order, and each length's first code.
  int firstIndex[kMaxCodeLength + 2] = {};
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    firstIndex[length + 1] = firstIndex[length] + countOfLength[length];
  }
  int nextIndex[kMaxCodeLength + 1];
  std::memcpy(nextIndex, firstIndex, sizeof nextIndex);
  for (int symbol = 0; symbol < alphabetSize; ++symbol) {
    symbols_[nextIndex[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
  }
  std::int32_t code = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    lastCode_[length] = code + countOfLength[length] - 1;
    symbolOffset_[length] = firstIndex[length] - code;
    code = (code + countOfLength[length]) << 1;
  }

  std::memset(fast_, 0, sizeof fast_);
  for (int length = 1; length <= kFastBits; ++length) {
    const int span = 1 << (kFastBits - length);
    for (int index = firstIndex[length]; index < firstIndex[length + 1]; ++index) {
      const int codeOfIndex = index - symbolOffset_[length];
      const auto entry = static_cast<std::uint16_t>((symbols_[index] << kSymbolShift) | length);
      std::uint16_t* slot = fast_ + (codeOfIndex << (kFastBits - length));
      for (int i = 0; i < span; ++i) slot[i] = entry;
    }
  }
  return true;
}

int HuffmanTable::DecodeLong(BitReader& reader) const {
  // A complete code whose ten-bit prefix is not a code is longer than ten.
  for (int length = kFastBits + 1; length <= kMaxCodeLength; ++length) {
    const auto code = static_cast<std::int32_t>(reader.Peek(length));
    if (code <= lastCode_[length]) {
      reader.Skip(length);
      return symbols_[code + symbolOffset_[length]];
    }
  }
  return -1;  // unreachable for a complete code
}

}  // namespace bzip2
}  // namespace launcher

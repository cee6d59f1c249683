// Decoding of one bzip2 Huffman table: a look-up of the next ten bits
// answers nearly every symbol at once; longer codes are found length by
// length.
#ifndef MAROVETIN_LAUNCHER_BZIP2_HUFFMAN_H_
#define MAROVETIN_LAUNCHER_BZIP2_HUFFMAN_H_

#include <cstdint>

#include "bzip2_bit_reader.h"

namespace launcher {
namespace bzip2 {

constexpr int kMaxAlphabet = 258;  // 256 byte values + two run symbols, + end of block
constexpr int kMaxCodeLength = 20;

class HuffmanTable {
 public:
  // Builds the canonical code of alphabetSize symbols (codes assigned in
  // order of length, then of symbol) from their lengths, 1..20 each. False
  // when the lengths do not make a complete code: every bit string must
  // start exactly one code, or the decoder and the bzip2 library could read
  // the same bits differently.
  bool Build(const std::uint8_t* lengths, int alphabetSize);

  // The next symbol. The reader holds at least kMaxCodeLength bits.
  int Decode(BitReader& reader) const {
    const std::uint16_t entry = fast_[reader.Peek(kFastBits)];
    if (entry != 0) {
      reader.Skip(entry & kLengthMask);
      return entry >> kSymbolShift;
    }
    return DecodeLong(reader);
  }

 private:
  static constexpr int kFastBits = 10;
  static constexpr int kSymbolShift = 5;
  static constexpr std::uint16_t kLengthMask = (1 << kSymbolShift) - 1;

  int DecodeLong(BitReader& reader) const;

  // (symbol << 5) | length for codes of up to kFastBits bits; 0 where the
  // code is longer.
  std::uint16_t fast_[1 << kFastBits];
  // For each length: the last code of that length (-1 when there is none
  // below the first), and the index in symbols_ of its first code's symbol
  // minus that code.
  std::int32_t lastCode_[kMaxCodeLength + 1];
  std::int32_t symbolOffset_[kMaxCodeLength + 1];
  std::uint16_t symbols_[kMaxAlphabet];  // by length, then by symbol
};

}  // namespace bzip2
}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_HUFFMAN_H_

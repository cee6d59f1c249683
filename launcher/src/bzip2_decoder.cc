#include "launcher/bzip2_decoder.h"

#include <cstdint>
#include <cstring>

#include "bzip2_bit_reader.h"
#include "bzip2_block_output.h"
#include "bzip2_crc.h"
#include "bzip2_huffman.h"
#include "bzip2_move_to_front.h"

namespace launcher {
namespace {

using bzip2::BitReader;
using bzip2::HuffmanTable;

constexpr std::uint64_t kBlockMagic = 0x314159265359;
constexpr std::uint64_t kStreamEndMagic = 0x177245385090;
constexpr int kMaxGroups = 6;
constexpr int kSymbolsPerGroup = 50;
// The most selectors a block of 900,000 bytes needs, with room to spare;
// more are left to the library, whose versions treat them differently.
constexpr int kMaxSelectors = 18002;
constexpr int kRunA = 0;
constexpr int kRunB = 1;
// Runs spelt with more run symbols than this are damage.
constexpr std::uint32_t kMaxRunWeight = 2 * 1024 * 1024;

std::uint64_t Read48(BitReader& reader) {
  const std::uint64_t high = reader.Read(24);
  return (high << 24) | reader.Read(24);
}

// The symbol stream of one block, up to its end-of-block symbol, undone into
// the block's bytes: Huffman codes, then run lengths of the first list
// entry, then move-to-front. Returns the number of bytes, or -1.
class BlockReader {
 public:
  // The bytes go to buffers.links, and how often each occurs to
  // buffers.byteCounts.
  BlockReader(BitReader& reader, std::uint32_t maxBlockSize, bzip2::BlockBuffers& buffers)
      : reader_(reader),
        maxBlockSize_(maxBlockSize),
        block_(buffers.links.get()),
        counts_(buffers.byteCounts) {
    std::memset(counts_, 0, sizeof buffers.byteCounts);
  }

  long Read() {
    if (!ReadTables()) return -1;
    return ReadSymbols();
  }

 private:
  bool ReadTables() {
    // Which of the 256 byte values occur: 16 ranges of 16, then each range present.
    std::uint8_t present[256];
    int used = 0;
    const std::uint32_t ranges = reader_.Read(16);
    for (int range = 0; range < 16; ++range) {
      if ((ranges & (0x8000u >> range)) == 0) continue;
      const std::uint32_t values = reader_.Read(16);
      for (int value = 0; value < 16; ++value) {
        if (values & (0x8000u >> value)) {
          present[used++] = static_cast<std::uint8_t>(range * 16 + value);
        }
      }
    }
    if (used == 0) return false;
    byteValues_.Reset(present, used);
    endOfBlock_ = used + 1;
    const int alphabetSize = used + 2;

    const int groups = static_cast<int>(reader_.Read(3));
    selectorCount_ = static_cast<int>(reader_.Read(15));
    if (groups < 2 || groups > kMaxGroups || selectorCount_ < 1 || selectorCount_ > kMaxSelectors) {
      return false;
    }
    // Selectors, each a unary move-to-front index among the groups.
    std::uint8_t groupOrder[kMaxGroups] = {0, 1, 2, 3, 4, 5};
    for (int i = 0; i < selectorCount_; ++i) {
      int index = 0;
      while (reader_.ReadBit()) {
        if (++index >= groups) return false;
      }
      const std::uint8_t group = groupOrder[index];
      std::memmove(groupOrder + 1, groupOrder, static_cast<std::size_t>(index));
      groupOrder[0] = group;
      selectors_[i] = group;
    }
    if (reader_.Overrun()) return false;

    // Code lengths, each group's as differences from the previous symbol's.
    std::uint8_t lengths[bzip2::kMaxAlphabet];
    for (int group = 0; group < groups; ++group) {
      int length = static_cast<int>(reader_.Read(5));
      for (int symbol = 0; symbol < alphabetSize; ++symbol) {
        for (;;) {
          if (length < 1 || length > bzip2::kMaxCodeLength) return false;
          if (!reader_.ReadBit()) break;
          length += reader_.ReadBit() ? -1 : 1;
        }
        lengths[symbol] = static_cast<std::uint8_t>(length);
      }
      if (reader_.Overrun() || !tables_[group].Build(lengths, alphabetSize)) return false;
    }
    return true;
  }

  long ReadSymbols() {
    // On a local copy of the reader, whose bits can then stay in registers.
    BitReader reader = reader_;
    const long size = ReadSymbols(reader);
    reader_ = reader;
    return size;
  }

  long ReadSymbols(BitReader& reader) {
    std::uint32_t size = 0;
    std::uint32_t run = 0;
    std::uint32_t runWeight = 1;
    int nextSelector = 0;
    int leftInGroup = 0;
    const HuffmanTable* table = nullptr;
    // A local copy, so that the list's front can stay in registers.
    bzip2::MoveToFrontList list = byteValues_;
    for (;;) {
      if (leftInGroup == 0) {
        // Reading past the end yields zero bits; stopping here bounds what
        // damaged input can cost.
        if (nextSelector == selectorCount_ || reader.Overrun()) return -1;
        table = &tables_[selectors_[nextSelector++]];
        leftInGroup = kSymbolsPerGroup;
      }
      --leftInGroup;
      if (reader.count() < bzip2::kMaxCodeLength) reader.Refill();
      const int symbol = table->Decode(reader);
      if (symbol <= kRunB) {
        if (symbol < 0 || runWeight >= kMaxRunWeight) return -1;
        run += runWeight << symbol;  // run A counts the weight once, run B twice
        runWeight <<= 1;
        continue;
      }
      if (run > 0) {
        if (run > maxBlockSize_ - size) return -1;
        const std::uint32_t value = list.Front();
        counts_[value] += run;
        for (std::uint32_t* end = block_ + size + run; block_ + size < end;) block_[size++] = value;
        run = 0;
        runWeight = 1;
      }
      if (symbol == endOfBlock_) return static_cast<long>(size);
      if (size == maxBlockSize_) return -1;
      // Symbol s stands for the list's entry s - 1, which moves to the front.
      const std::uint8_t value = list.Take(symbol - 1);
      ++counts_[value];
      block_[size++] = value;
    }
  }

  BitReader& reader_;
  const std::uint32_t maxBlockSize_;
  std::uint32_t* const block_;
  std::uint32_t* const counts_;
  int endOfBlock_ = 0;
  int selectorCount_ = 0;
  bzip2::MoveToFrontList byteValues_;
  // Written before it is read: left uninitialised, as clearing it would
  // cost more than a small block's decoding.
  std::uint8_t selectors_[kMaxSelectors];
  HuffmanTable tables_[kMaxGroups];
};

// One block after its magic number; its bytes are appended to out and its
// checksum to streamCrc.
bool DecodeBlock(BitReader& reader, std::uint32_t maxBlockSize, std::uint32_t& streamCrc,
                 std::vector<unsigned char>& out) {
  const std::uint32_t storedCrc = reader.Read(32);
  // Blocks of the old randomised kind are the library's.
  if (reader.ReadBit()) return false;
  const std::uint32_t origin = reader.Read(24);

  bzip2::BlockBuffers& buffers = bzip2::BlockBuffers::OfThisThread();
  buffers.Reserve(maxBlockSize);
  BlockReader reading(reader, maxBlockSize, buffers);
  const long size = reading.Read();
  if (size <= 0 || origin >= static_cast<std::uint32_t>(size)) return false;

  const std::size_t start = out.size();
  if (!bzip2::EmitBlock(buffers, static_cast<std::uint32_t>(size), origin, out)) return false;
  const std::uint32_t crc = bzip2::BlockCrc(out.data() + start, out.size() - start);
  if (crc != storedCrc) return false;
  streamCrc = bzip2::CombineStreamCrc(streamCrc, crc);
  return true;
}

// One stream from its "BZh" signature to its end-of-stream marker and the
// padding to the next byte.
bool DecodeStream(BitReader& reader, std::vector<unsigned char>& out) {
  if (reader.Read(8) != 'B' || reader.Read(8) != 'Z' || reader.Read(8) != 'h') return false;
  const std::uint32_t level = reader.Read(8);
  if (level < '1' || level > '9') return false;
  const std::uint32_t maxBlockSize = (level - '0') * 100000;

  std::uint32_t streamCrc = 0;
  for (;;) {
    const std::uint64_t magic = Read48(reader);
    if (magic == kStreamEndMagic) break;
    if (magic != kBlockMagic || !DecodeBlock(reader, maxBlockSize, streamCrc, out)) return false;
  }
  const std::uint32_t storedCrc = reader.Read(32);
  reader.AlignToByte();
  return storedCrc == streamCrc && !reader.Overrun();
}

}  // namespace

bool DecodeBzip2Streams(const unsigned char* data, std::size_t size,
                        std::vector<unsigned char>& out) {
  const std::size_t before = out.size();
  BitReader reader(data, size);
  // The first stream must be there; after each, the input ends or another begins.
  do {
    if (!DecodeStream(reader, out)) {
      out.resize(before);
      return false;
    }
  } while (!reader.AtEnd());
  return true;
}

}  // namespace launcher

#include "launcher/bzip2_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

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
        // Run A counts the weight once, run B twice.
        static_assert(kRunA == 0 && kRunB == 1, "the shift below relies on the symbols' values");
        run += runWeight << symbol;
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

// What decoding came to.
enum class Step { kDone, kDeclined, kStopped };

// One block after its magic number; its bytes go to output and its checksum
// into streamCrc.
Step DecodeBlock(BitReader& reader, std::uint32_t maxBlockSize, std::uint32_t& streamCrc,
                 const bzip2::ByteOutput& output) {
  const std::uint32_t storedCrc = reader.Read(32);
  // Blocks of the old randomised kind are the library's.
  if (reader.ReadBit()) return Step::kDeclined;
  const std::uint32_t origin = reader.Read(24);

  bzip2::BlockBuffers& buffers = bzip2::BlockBuffers::OfThisThread();
  buffers.Reserve(maxBlockSize);
  BlockReader reading(reader, maxBlockSize, buffers);
  const long size = reading.Read();
  // Bits read past the end of what the window holds are not the block's.
  if (size <= 0 || origin >= static_cast<std::uint32_t>(size) || reader.Overrun()) {
    return Step::kDeclined;
  }
  std::uint32_t crc = 0;
  switch (bzip2::EmitBlock(buffers, static_cast<std::uint32_t>(size), origin, output, &crc)) {
    case bzip2::EmitResult::kStopped:
      return Step::kStopped;
    case bzip2::EmitResult::kMalformed:
      return Step::kDeclined;
    case bzip2::EmitResult::kEmitted:
      break;
  }
  if (crc != storedCrc) return Step::kDeclined;
  streamCrc = bzip2::CombineStreamCrc(streamCrc, crc);
  return Step::kDone;
}

// The input as a window that always holds the next kWindowBytes of it (or the
// rest, when less is left): more than the largest block a stream can code
// (900,001 symbols of at most 20 bits, and the tables), so that one block
// always decodes out of memory. A block that does not fit is no bzip2 block.
class InputWindow {
 public:
  static constexpr std::size_t kWindowBytes = std::size_t{5} << 19;  // 2.5 MiB

  // The window's memory is the thread's, kept for its next payload.
  explicit InputWindow(const Bzip2Input& input) : input_(input), bytes_(ThreadWindow()) {}

  // Drops the bytes read past and fills the window up again. False on a
  // read error.
  bool Refill() {
    const std::size_t dropped = static_cast<std::size_t>(bitPosition_ / 8);
    std::memmove(bytes_, bytes_ + dropped, filled_ - dropped);
    filled_ -= dropped;
    bitPosition_ -= static_cast<std::uint64_t>(dropped) * 8;
    while (!ended_ && filled_ < kWindowBytes) {
      const long got = input_(bytes_ + filled_, kWindowBytes - filled_);
      if (got < 0) return false;
      if (got == 0) ended_ = true;
      filled_ += static_cast<std::size_t>(got);
    }
    return true;
  }

  // A reader at the next bit to decode.
  BitReader Reader() const {
    BitReader reader(bytes_, filled_);
    for (std::uint64_t skip = bitPosition_; skip > 0;) {
      const int bits = static_cast<int>(skip > 32 ? 32 : skip);
      reader.Read(bits);
      skip -= static_cast<std::uint64_t>(bits);
    }
    return reader;
  }
  // Takes what reader, made by Reader(), has consumed.
  void Advance(const BitReader& reader) { bitPosition_ = reader.BitsConsumed(); }

  // True when every input byte was consumed.
  bool AtEnd() const { return ended_ && bitPosition_ == static_cast<std::uint64_t>(filled_) * 8; }

 private:
  static unsigned char* ThreadWindow() {
    thread_local std::unique_ptr<unsigned char[]> window(new unsigned char[kWindowBytes]);
    return window.get();
  }

  const Bzip2Input& input_;
  unsigned char* const bytes_;
  std::size_t filled_ = 0;
  std::uint64_t bitPosition_ = 0;  // from the window's first byte
  bool ended_ = false;
};

// One stream from its "BZh" signature to its end-of-stream marker and the
// padding to the next byte, a block at a time.
Step DecodeStream(InputWindow& window, const bzip2::ByteOutput& output) {
  BitReader reader = window.Reader();
  if (reader.Read(8) != 'B' || reader.Read(8) != 'Z' || reader.Read(8) != 'h') {
    return Step::kDeclined;
  }
  const std::uint32_t level = reader.Read(8);
  if (level < '1' || level > '9' || reader.Overrun()) return Step::kDeclined;
  const std::uint32_t maxBlockSize = (level - '0') * 100000;
  window.Advance(reader);

  std::uint32_t streamCrc = 0;
  for (;;) {
    if (!window.Refill()) return Step::kDeclined;
    reader = window.Reader();
    const std::uint64_t magic = Read48(reader);
    if (magic == kStreamEndMagic) break;
    if (magic != kBlockMagic) return Step::kDeclined;
    const Step block = DecodeBlock(reader, maxBlockSize, streamCrc, output);
    if (block != Step::kDone) return block;
    window.Advance(reader);
  }
  const std::uint32_t storedCrc = reader.Read(32);
  reader.AlignToByte();
  if (storedCrc != streamCrc || reader.Overrun()) return Step::kDeclined;
  window.Advance(reader);
  return Step::kDone;
}

}  // namespace

FastBzip2Result DecodeBzip2Piecewise(const Bzip2Input& input, const Bzip2Output& output) {
  InputWindow window(input);
  // The first stream must be there; after each, the input ends or another begins.
  for (bool first = true;; first = false) {
    if (!window.Refill()) return FastBzip2Result::kReadFailed;
    if (!first && window.AtEnd()) return FastBzip2Result::kDecoded;
    const Step stream = DecodeStream(window, output);
    if (stream == Step::kStopped) return FastBzip2Result::kStopped;
    if (stream == Step::kDeclined) return FastBzip2Result::kDeclined;
  }
}

bool DecodeBzip2Streams(const unsigned char* data, std::size_t size,
                        std::vector<unsigned char>& out) {
  const std::size_t before = out.size();
  std::size_t offset = 0;
  const Bzip2Input input = [&](unsigned char* buffer, std::size_t capacity) {
    const std::size_t count = std::min(capacity, size - offset);
    if (count > 0) std::memcpy(buffer, data + offset, count);
    offset += count;
    return static_cast<long>(count);
  };
  const Bzip2Output output = [&out](const unsigned char* bytes, std::size_t count) {
    out.insert(out.end(), bytes, bytes + count);
    return true;
  };
  if (DecodeBzip2Piecewise(input, output) == FastBzip2Result::kDecoded) return true;
  out.resize(before);
  return false;
}

}  // namespace launcher

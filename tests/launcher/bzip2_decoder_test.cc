#include "launcher/bzip2_decoder.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace launcher {
namespace {

using Bytes = std::vector<unsigned char>;

// What the caller had in its buffer before: a refusal must leave it, and a
// success must append after it.
const Bytes kEarlier = {0xDE, 0xAD, 0xBE, 0xEF};

Bytes Compress(const Bytes& plain, int blockSize100k) {
  const std::string packed =
      testing_support::Bzip2(std::string(plain.begin(), plain.end()), blockSize100k);
  return Bytes(packed.begin(), packed.end());
}

// The bzip2 library's answer for one stream: its bytes, or false.
bool LibraryDecodes(const Bytes& packed, Bytes& plain) {
  bz_stream stream{};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return false;
  Bytes input = packed;
  stream.next_in = reinterpret_cast<char*>(input.data());
  stream.avail_in = static_cast<unsigned int>(input.size());
  int status = BZ_OK;
  unsigned char piece[4096];
  while (status == BZ_OK) {
    stream.next_out = reinterpret_cast<char*>(piece);
    stream.avail_out = sizeof piece;
    status = BZ2_bzDecompress(&stream);
    plain.insert(plain.end(), piece, piece + (sizeof piece - stream.avail_out));
    if (status == BZ_OK && stream.avail_in == 0 && stream.avail_out > 0) break;  // truncated
  }
  BZ2_bzDecompressEnd(&stream);
  return status == BZ_STREAM_END && stream.avail_in == 0;
}

Bytes Decoded(const Bytes& packed, bool& accepted) {
  Bytes out = kEarlier;
  accepted = DecodeBzip2Streams(packed.data(), packed.size(), out);
  return out;
}

Bytes Run(std::size_t length, unsigned char value) { return Bytes(length, value); }

Bytes Pseudorandom(std::size_t length, unsigned alphabet, std::uint32_t seed) {
  Bytes bytes(length);
  for (unsigned char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<unsigned char>((seed >> 16) % alphabet);
  }
  return bytes;
}

Bytes Text(std::size_t length) {
  static const std::string kWords = "the pack volume holds files under names and gaps ";
  Bytes bytes;
  for (std::size_t i = 0; bytes.size() < length; i = (i * 7 + 3) % kWords.size()) {
    bytes.push_back(static_cast<unsigned char>(kWords[i]));
  }
  return bytes;
}

// Payloads that reach every path of the format: run-length counts at and
// around their edges (runs of 4 take a count byte, which runs up to 255),
// the run symbols of the move-to-front stage, every byte value, blocks
// split at the block size, long codes.
std::vector<std::pair<std::string, Bytes>> Payloads() {
  std::vector<std::pair<std::string, Bytes>> payloads = {
      {"one byte", {0x41}},
      {"every byte value", Pseudorandom(20000, 256, 7)},
      {"sixteen symbols", Pseudorandom(40000, 16, 11)},
      {"text", Text(50000)},
      {"noise over several blocks", Pseudorandom(250000, 256, 3)},
      {"a skewed alphabet", Pseudorandom(30000, 3, 5)},
  };
  for (std::size_t run : {1, 2, 3, 4, 5, 6, 255, 256, 258, 259, 260, 261, 1000, 70000}) {
    Bytes bytes = Text(100);
    const Bytes same = Run(run, 'x');
    bytes.insert(bytes.end(), same.begin(), same.end());
    payloads.emplace_back("a run of " + std::to_string(run), bytes);
    payloads.emplace_back("only a run of " + std::to_string(run), same);
  }
  return payloads;
}

TEST(Bzip2DecoderTest, DecodesWhatTheLibraryEncodesAtEveryBlockSize) {
  for (const auto& [name, plain] : Payloads()) {
    for (int blockSize : {1, 5, 9}) {
      bool accepted = false;
      const Bytes out = Decoded(Compress(plain, blockSize), accepted);
      ASSERT_TRUE(accepted) << name << " at block size " << blockSize;
      ASSERT_EQ(Bytes(out.begin(), out.begin() + kEarlier.size()), kEarlier) << name;
      ASSERT_TRUE(Bytes(out.begin() + kEarlier.size(), out.end()) == plain)
          << name << " at block size " << blockSize;
    }
  }
}

TEST(Bzip2DecoderTest, DecodesConcatenatedStreamsIncludingEmptyOnes) {
  const Bytes first = Text(3000), third = Pseudorandom(5000, 256, 9);
  Bytes packed = Compress(first, 9);
  for (const Bytes& part : {Compress({}, 1), Compress(third, 2)}) {
    packed.insert(packed.end(), part.begin(), part.end());
  }
  bool accepted = false;
  Bytes expected = kEarlier;
  expected.insert(expected.end(), first.begin(), first.end());
  expected.insert(expected.end(), third.begin(), third.end());
  EXPECT_TRUE(Decoded(packed, accepted) == expected);
  EXPECT_TRUE(accepted);
  EXPECT_TRUE(Decoded(Compress({}, 9), accepted) == kEarlier);
  EXPECT_TRUE(accepted);
}

// Whatever it is given, the decoder either leaves the buffer as it was or
// gives exactly what the library gives: every bit of a stream flipped in
// turn (headers, tables, codes, checksums), and every truncation.
TEST(Bzip2DecoderTest, DamagedStreamsAreLeftToTheLibraryOrDecodedAlike) {
  const Bytes plain = Text(600);
  const Bytes packed = Compress(plain, 1);
  int accepted = 0;
  for (std::size_t bit = 0; bit < packed.size() * 8; ++bit) {
    Bytes damaged = packed;
    damaged[bit / 8] ^= static_cast<unsigned char>(0x80 >> (bit % 8));
    bool ok = false;
    const Bytes out = Decoded(damaged, ok);
    if (!ok) {
      ASSERT_EQ(out, kEarlier) << "bit " << bit;
      continue;
    }
    ++accepted;
    Bytes expected;
    ASSERT_TRUE(LibraryDecodes(damaged, expected)) << "bit " << bit;
    ASSERT_EQ(Bytes(out.begin() + kEarlier.size(), out.end()), expected) << "bit " << bit;
  }
  // Only the padding after the stream's checksum may change unnoticed.
  EXPECT_LT(accepted, 8);
  for (std::size_t length = 0; length < packed.size(); ++length) {
    bool ok = true;
    EXPECT_EQ(Decoded(Bytes(packed.begin(), packed.begin() + length), ok), kEarlier);
    EXPECT_FALSE(ok) << "cut to " << length << " bytes";
  }
}

TEST(Bzip2DecoderTest, LeavesTrailingBytesAndOldRandomisedBlocksToTheLibrary) {
  const Bytes packed = Compress(Text(2000), 9);
  for (const Bytes& tail : {Bytes{'x'}, Bytes{'B', 'Z', 'h', '9'}, Bytes{0}}) {
    Bytes trailed = packed;
    trailed.insert(trailed.end(), tail.begin(), tail.end());
    bool ok = true;
    EXPECT_EQ(Decoded(trailed, ok), kEarlier);
    EXPECT_FALSE(ok);
  }
  // The randomised flag follows the signature (4 bytes), the block's magic
  // number (6) and its checksum (4): the top bit of byte 14.
  Bytes randomised = packed;
  randomised[14] |= 0x80;
  bool ok = true;
  EXPECT_EQ(Decoded(randomised, ok), kEarlier);
  EXPECT_FALSE(ok);
}

// Writes bzip2 streams of one block whose bytes (after the run-length
// coding an encoder would apply) are given as they are, with Huffman code
// lengths of the test's choosing: blocks that no encoder writes.
class HandMadeStream {
 public:
  // The block's bytes before the transform, e.g. "abcaaaa" for a block
  // ending on a run of four without its count.
  explicit HandMadeStream(const std::string& block) : block_(block) {}

  // Code lengths for each symbol (two run symbols, one per byte value used,
  // end of block); by default a complete code.
  HandMadeStream& WithLengths(std::vector<int> lengths) {
    lengths_ = std::move(lengths);
    return *this;
  }

  Bytes Write(std::uint32_t blockCrc) const {
    // Transform: sort the rotations; the last column and where the block's
    // own rotation went.
    const std::size_t n = block_.size();
    std::vector<std::size_t> rotations(n);
    for (std::size_t i = 0; i < n; ++i) rotations[i] = i;
    std::sort(rotations.begin(), rotations.end(), [&](std::size_t a, std::size_t b) {
      return (block_.substr(a) + block_.substr(0, a)) < (block_.substr(b) + block_.substr(0, b));
    });
    std::string last;
    std::uint32_t origin = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (rotations[i] == 0) origin = static_cast<std::uint32_t>(i);
      last += block_[(rotations[i] + n - 1) % n];
    }
    // Move-to-front over the values used, zero runs as run symbols.
    std::vector<unsigned char> used;
    for (int value = 0; value < 256; ++value) {
      if (block_.find(static_cast<char>(value)) != std::string::npos) {
        used.push_back(static_cast<unsigned char>(value));
      }
    }
    std::vector<int> symbols;
    std::vector<unsigned char> list = used;
    std::size_t zeros = 0;
    auto flushZeros = [&] {
      for (; zeros > 0; zeros = (zeros - 1) / 2) symbols.push_back((zeros - 1) % 2 == 0 ? 0 : 1);
    };
    for (char c : last) {
      const auto at = std::find(list.begin(), list.end(), static_cast<unsigned char>(c));
      const int index = static_cast<int>(at - list.begin());
      list.erase(at);
      list.insert(list.begin(), static_cast<unsigned char>(c));
      if (index == 0) {
        ++zeros;
        continue;
      }
      flushZeros();
      symbols.push_back(index + 1);
    }
    flushZeros();
    const int alphabet = static_cast<int>(used.size()) + 2;
    symbols.push_back(alphabet - 1);
    std::vector<int> lengths = lengths_;
    if (lengths.empty()) {  // complete: 2^k leaves, the first ones split
      int k = 1;
      while ((1 << k) < alphabet) ++k;
      for (int i = 0; i < alphabet; ++i) lengths.push_back(i < (1 << k) - alphabet ? k - 1 : k);
    }
    std::vector<std::uint32_t> codes(lengths.size());
    std::uint32_t code = 0;
    for (int length = 1; length <= 20; ++length, code <<= 1) {
      for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] == length) codes[s] = code++;
      }
    }

    BitWriter out;
    for (char c : std::string("BZh9")) out.Put(8, static_cast<unsigned char>(c));
    out.Put(24, 0x314159);
    out.Put(24, 0x265359);
    out.Put(32, blockCrc);
    out.Put(1, 0);
    out.Put(24, origin);
    std::uint32_t ranges = 0;
    for (unsigned char value : used) ranges |= 0x8000u >> (value / 16);
    out.Put(16, ranges);
    for (int range = 0; range < 16; ++range) {
      if ((ranges & (0x8000u >> range)) == 0) continue;
      std::uint32_t values = 0;
      for (unsigned char value : used) {
        if (value / 16 == range) values |= 0x8000u >> (value % 16);
      }
      out.Put(16, values);
    }
    const std::size_t selectors = (symbols.size() + 49) / 50;
    out.Put(3, 2);
    out.Put(15, static_cast<std::uint32_t>(selectors));
    for (std::size_t i = 0; i < selectors; ++i) out.Put(1, 0);  // always the first table
    for (int table = 0; table < 2; ++table) {
      int current = lengths[0];
      out.Put(5, static_cast<std::uint32_t>(current));
      for (int length : lengths) {
        for (; current < length; ++current) out.Put(2, 2);
        for (; current > length; --current) out.Put(2, 3);
        out.Put(1, 0);
      }
    }
    for (int symbol : symbols) out.Put(lengths[symbol], codes[symbol]);
    out.Put(24, 0x177245);
    out.Put(24, 0x385090);
    out.Put(32, blockCrc);  // one block: the stream's checksum is the block's
    return out.Finish();
  }

 private:
  class BitWriter {
   public:
    void Put(int count, std::uint32_t value) {
      for (int bit = count - 1; bit >= 0; --bit) bits_.push_back((value >> bit) & 1);
    }
    Bytes Finish() const {
      Bytes bytes((bits_.size() + 7) / 8);
      for (std::size_t i = 0; i < bits_.size(); ++i) {
        if (bits_[i]) bytes[i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
      }
      return bytes;
    }

   private:
    std::vector<bool> bits_;
  };

  std::string block_;
  std::vector<int> lengths_;
};

// The bzip2 checksum of a block's decoded bytes, as the library computes it.
std::uint32_t LibraryChecksumOf(const Bytes& plain) {
  const Bytes packed = Compress(plain, 9);
  return (std::uint32_t{packed[10]} << 24) | (std::uint32_t{packed[11]} << 16) |
         (std::uint32_t{packed[12]} << 8) | packed[13];
}

// Blocks that no encoder writes, made by hand, are refused; the library
// then decides (it rejects a run of four without its count, and reads an
// incomplete code as long as no bit string without a code comes). The
// well-formed blocks beside them pass, so the refusals are the blocks' and
// not the hand-made streams'.
TEST(Bzip2DecoderTest, HandMadeBlocksThatNoEncoderWritesAreLeftToTheLibrary) {
  const struct {
    std::string block;
    std::vector<int> lengths;
    Bytes plain;  // empty: refused
  } cases[] = {
      {"abcab", {}, {'a', 'b', 'c', 'a', 'b'}},
      {std::string("abbbb\x02") + "c", {}, {'a', 'b', 'b', 'b', 'b', 'b', 'b', 'c'}},
      {"abcbbbb", {}, {}},             // a run of four ends the block without its count
      {"abcab", {2, 2, 2, 3, 4}, {}},  // an incomplete code
      {"abcab", {1, 2, 2, 3, 3}, {}},  // an oversubscribed code
  };
  for (const auto& c : cases) {
    const Bytes checked = c.plain.empty() ? Bytes(c.block.begin(), c.block.end()) : c.plain;
    const Bytes packed =
        HandMadeStream(c.block).WithLengths(c.lengths).Write(LibraryChecksumOf(checked));
    bool accepted = false;
    const Bytes out = Decoded(packed, accepted);
    Bytes library;
    const bool libraryAccepts = LibraryDecodes(packed, library);
    if (c.plain.empty()) {
      EXPECT_FALSE(accepted) << c.block;
      EXPECT_EQ(out, kEarlier) << c.block;
      if (c.lengths.empty()) {
        EXPECT_FALSE(libraryAccepts) << c.block;
      }
    } else {
      EXPECT_TRUE(accepted) << c.block;
      EXPECT_EQ(Bytes(out.begin() + kEarlier.size(), out.end()), c.plain) << c.block;
      EXPECT_EQ(library, c.plain) << c.block;
    }
  }
}

}  // namespace
}  // namespace launcher

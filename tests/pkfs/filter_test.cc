// The byte filter: whole-buffer transforms, and the piecewise forms that take
// their carry from the entry through a handle.
#include <gtest/gtest.h>

#include <vector>

#include "fake_entry_store.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"

namespace {

using Bytes = std::vector<unsigned char>;
using pkfs_test::FakeEntryStore;
using pkfs_test::PatternBytes;

// The transforms byte by byte, straight from their definition.
Bytes ReferenceEncode(Bytes b) {
  if (b.empty()) return b;
  const unsigned char carry = b[0];
  for (std::size_t i = 0; i + 1 < b.size(); ++i) b[i] = (b[i] & 0xAA) | (b[i + 1] & 0x55);
  b.back() = (b.back() & 0xAA) | (carry & 0x55);
  return b;
}

Bytes ReferenceDecode(Bytes e) {
  if (e.empty()) return e;
  unsigned char carry = e.back();
  for (auto& byte : e) {
    const unsigned char stored = byte;
    byte = (byte & 0xAA) | (carry & 0x55);
    carry = stored;
  }
  return e;
}

TEST(FilterTest, TwoBytesEncodeAndDecodeToTheKnownValues) {
  pkfs::CFSFilter filter;
  Bytes data = {0x0F, 0xF0};
  EXPECT_TRUE(filter.Encode(data.data(), 2, nullptr));
  EXPECT_EQ(data, (Bytes{0x5A, 0xA5}));
  EXPECT_TRUE(filter.Decode(data.data(), 2, nullptr));
  EXPECT_EQ(data, (Bytes{0x0F, 0xF0}));
}

TEST(FilterTest, OneByteAndEmptyBuffersStayAsTheyAre) {
  pkfs::CFSFilter filter;
  unsigned char one = 0xC3;
  EXPECT_TRUE(filter.Encode(&one, 1, nullptr));
  EXPECT_EQ(one, 0xC3);
  EXPECT_TRUE(filter.Decode(&one, 1, nullptr));
  EXPECT_EQ(one, 0xC3);
  unsigned char untouched = 0x77;
  EXPECT_TRUE(filter.Encode(&untouched, 0, nullptr));
  EXPECT_TRUE(filter.Decode(&untouched, 0, nullptr));
  EXPECT_EQ(untouched, 0x77);
  EXPECT_TRUE(filter.Decode(nullptr, 0, nullptr));
}

TEST(FilterTest, WordLoopsAgreeWithTheByteDefinitionAtEveryLength) {
  // Lengths around the eight-byte steps of the fast loops, and a large one.
  std::vector<std::size_t> lengths;
  for (std::size_t n = 1; n <= 40; ++n) lengths.push_back(n);
  lengths.push_back(4099);
  for (std::size_t n : lengths) {
    const Bytes plain = PatternBytes(n, static_cast<unsigned>(n));
    Bytes encoded = plain;
    pkfs::EncodeBuffer(encoded.data(), static_cast<std::uint32_t>(n));
    ASSERT_EQ(encoded, ReferenceEncode(plain)) << "length " << n;
    Bytes decoded = encoded;
    pkfs::DecodeBuffer(decoded.data(), static_cast<std::uint32_t>(n));
    ASSERT_EQ(decoded, ReferenceDecode(encoded)) << "length " << n;
    ASSERT_EQ(decoded, plain) << "length " << n;
  }
}

class PiecewiseFilterTest : public ::testing::Test {
 protected:
  pkfs::CFSManager manager_{"/nowhere"};
  FakeEntryStore store_{&manager_};
  pkfs::CFSFilter filter_;
};

TEST_F(PiecewiseFilterTest, DecodingInPiecesEqualsDecodingWhole) {
  const Bytes plain = PatternBytes(3000);
  Bytes encoded = plain;
  pkfs::EncodeBuffer(encoded.data(), 3000);
  auto handle = store_.MakeHandle(store_.AddEntry("A.TXT", encoded));

  Bytes pieces;
  for (std::uint32_t start : {0u, 1024u, 2048u}) {
    const std::uint32_t length = start == 2048 ? 952 : 1024;
    Bytes piece(encoded.begin() + start, encoded.begin() + start + length);
    handle->Seek(static_cast<std::int32_t>(start), 0);
    EXPECT_TRUE(filter_.Decode(piece.data(), length, handle.get()));
    EXPECT_EQ(handle->position, static_cast<std::int32_t>(start)) << "position put back";
    pieces.insert(pieces.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(pieces, plain);
}

TEST_F(PiecewiseFilterTest, APieceAtTheStartTakesItsCarryFromTheLastStoredByte) {
  // Stored 0x00, 0x00, 0xFF: the first byte's even bits come from 0xFF.
  auto handle = store_.MakeHandle(store_.AddEntry("B", {0x00, 0x00, 0xFF}));
  unsigned char first = 0x00;
  filter_.Decode(&first, 1, handle.get());
  EXPECT_EQ(first, 0x55);
  EXPECT_EQ(handle->position, 0);
  // A piece at 2 takes them from the stored byte at 1.
  unsigned char last = 0xFF;
  handle->Seek(2, 0);
  filter_.Decode(&last, 1, handle.get());
  EXPECT_EQ(last, 0xAA);
}

TEST_F(PiecewiseFilterTest, EncodingInPiecesEqualsEncodingWholeAndRoundTrips) {
  // The entry holds the plain bytes; each piece is encoded with its carry
  // from the entry's byte after it.
  const Bytes plain = PatternBytes(2500, 3);
  auto handle = store_.MakeHandle(store_.AddEntry("C", plain));
  Bytes encoded;
  for (std::uint32_t start = 0; start < plain.size(); start += 700) {
    const std::uint32_t length = std::min<std::uint32_t>(700, 2500 - start);
    Bytes piece(plain.begin() + start, plain.begin() + start + length);
    handle->Seek(static_cast<std::int32_t>(start), 0);
    filter_.Encode(piece.data(), length, handle.get());
    EXPECT_EQ(handle->position, static_cast<std::int32_t>(start));
    encoded.insert(encoded.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(encoded, ReferenceEncode(plain));

  auto stored = store_.MakeHandle(store_.AddEntry("D", encoded));
  Bytes decoded;
  for (std::uint32_t start = 0; start < encoded.size(); start += 999) {
    const std::uint32_t length = std::min<std::uint32_t>(999, 2500 - start);
    Bytes piece(encoded.begin() + start, encoded.begin() + start + length);
    stored->Seek(static_cast<std::int32_t>(start), 0);
    filter_.Decode(piece.data(), length, stored.get());
    decoded.insert(decoded.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(decoded, plain);
}

}  // namespace

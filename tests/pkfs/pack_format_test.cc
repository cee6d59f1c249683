// Byte layouts of the volume header, the file head record and the trailer.
#include "pkfs/pack_format.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pkfs/directory_filter.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "test_support.h"

namespace pkfs {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(PackFormatTest, HeaderIsMagicAndThreeLittleEndianWords) {
  PackHeader header;
  header.tableOffset = 0x01020304;
  header.tableSize = 16;
  header.headCount = 0xA0B0C0D0;
  unsigned char bytes[kPackHeaderBytes];
  header.Serialize(bytes);
  EXPECT_EQ(Bytes(bytes, bytes + 16),
            (Bytes{'P', 'A', 'C', 'K', 4, 3, 2, 1, 16, 0, 0, 0, 0xD0, 0xC0, 0xB0, 0xA0}));
  const PackHeader back = PackHeader::Parse(bytes);
  EXPECT_TRUE(back.HasMagic());
  EXPECT_EQ(back.tableOffset, 0x01020304u);
  EXPECT_EQ(back.tableSize, 16u);
  EXPECT_EQ(back.headCount, 0xA0B0C0D0u);
  bytes[0] = 'p';
  EXPECT_FALSE(PackHeader::Parse(bytes).HasMagic());
}

TEST(PackFormatTest, FileHeadRecordIsTwentyBytesPlusTheName) {
  FileHead head;
  head.name = "A";
  head.start = 32;
  head.size = 0x0100;
  head.flags = kFlagStored | kFlagInPlace;
  head.filterWord = 0x00070000;
  ASSERT_EQ(head.RecordSize(), 21u);
  Bytes out(21);
  EXPECT_EQ(head.Serialize(out.data()), 21u);
  EXPECT_EQ(out, (Bytes{1, 0, 0, 0, 'A', 32, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0x20, 0, 0, 7, 0}));

  FileHead parsed;
  EXPECT_EQ(parsed.Parse(out.data(), out.size()), 21u);
  EXPECT_EQ(parsed.name, "A");
  EXPECT_EQ(parsed.start, 32u);
  EXPECT_EQ(parsed.size, 0x100u);
  EXPECT_EQ(parsed.flags, kFlagStored | kFlagInPlace);
  EXPECT_EQ(parsed.FilterId(), 0u);  // the upper half of the word is carried, not read
}

TEST(PackFormatTest, FileHeadParseRefusesRecordsPastTheBuffer) {
  FileHead head;
  head.name = "ABC";
  Bytes out(head.RecordSize());
  head.Serialize(out.data());
  FileHead parsed;
  EXPECT_EQ(parsed.Parse(out.data(), out.size() - 1), 0u);
  EXPECT_EQ(parsed.Parse(out.data(), 19), 0u);
  // A name length that reaches past the buffer, up to the largest one.
  for (std::uint32_t length : {4u, 1000u, 0xFFFFFFECu, 0xFFFFFFFFu}) {
    out[0] = static_cast<unsigned char>(length);
    out[1] = static_cast<unsigned char>(length >> 8);
    out[2] = static_cast<unsigned char>(length >> 16);
    out[3] = static_cast<unsigned char>(length >> 24);
    EXPECT_EQ(parsed.Parse(out.data(), out.size()), 0u) << length;
  }
}

TEST(PackFormatTest, EmptyTrailerIsSixteenBytes) {
  PackTrailer trailer;
  EXPECT_EQ(trailer.RecordSize(), 16u);
  Bytes out(16);
  EXPECT_EQ(trailer.Serialize(out.data()), 16u);
  EXPECT_EQ(out, (Bytes{'P', 'K', 'E', 'S', 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PackFormatTest, TrailerCarriesTheNextVolumeName) {
  PackTrailer trailer;
  trailer.nextName = "Data1.pak";
  trailer.checksum = 0x1234;
  Bytes out(trailer.RecordSize());
  ASSERT_EQ(out.size(), 25u);
  trailer.Serialize(out.data());
  Bytes expected = {'P', 'K', 'E', 'S', 17, 0, 0, 0, 0x34, 0x12, 0, 0, 9, 0, 0, 0};
  for (char c : std::string("Data1.pak")) expected.push_back(static_cast<unsigned char>(c));
  EXPECT_EQ(out, expected);

  PackTrailer parsed;
  EXPECT_EQ(parsed.Parse(out.data(), out.size()), 25u);
  EXPECT_EQ(parsed.nextName, "Data1.pak");
  EXPECT_EQ(parsed.checksum, 0x1234u);
  EXPECT_EQ(parsed.bodySize, 17u);
  // Cut short anywhere, it is refused.
  for (std::size_t cut = 0; cut < out.size(); ++cut) {
    PackTrailer partial;
    EXPECT_EQ(partial.Parse(out.data(), cut), 0u) << cut;
  }
}

TEST(PackFormatTest, TableOfTwoHeadsAndATrailerIsSixtyFourBytes) {
  FileHead first;
  first.name = "ABC";
  first.start = 32;
  first.size = 3;
  first.flags = kFlagStored;
  FileHead second;
  second.name = "DEFGH";
  second.start = 35;
  second.size = 5;
  second.flags = kFlagStored;
  PackTrailer trailer;
  const std::size_t heads = first.RecordSize() + second.RecordSize();
  EXPECT_EQ(first.RecordSize(), 23u);
  EXPECT_EQ(second.RecordSize(), 25u);
  Bytes table(heads + trailer.RecordSize());
  ASSERT_EQ(table.size(), 64u);
  std::size_t at = first.Serialize(table.data());
  at += second.Serialize(table.data() + at);
  trailer.checksum = ByteSum(table.data(), heads);
  trailer.Serialize(table.data() + at);
  // The checksum: every byte of both records, unsigned, summed.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < heads; ++i) sum += table[i];
  EXPECT_EQ(trailer.checksum, sum);
  EXPECT_EQ(table[heads + 8] | (table[heads + 9] << 8), static_cast<int>(sum));
}

TEST(PackFormatTest, ByteSumIsUnsignedAndWrapsAt32Bits) {
  const Bytes bytes = {0xFF, 0x80, 0x01};
  EXPECT_EQ(ByteSum(bytes.data(), bytes.size()), 0x180u);
  EXPECT_EQ(ByteSum(nullptr, 0), 0u);
  Bytes many(0x01010102, 0xFF);  // 16.8 million bytes of 255 wrap the sum
  EXPECT_EQ(ByteSum(many.data(), many.size()), static_cast<std::uint32_t>(0xFFull * many.size()));
}

TEST(PackFormatTest, DirectoryBlocksPassThroughTheIdZeroFilter) {
  testing_support::TempDir dir;
  CFSManager manager(dir.path());
  Bytes header = Of("PACK0123456789AB");
  Bytes plain = header;
  EncodeDirectoryBlock(&manager, header.data(), header.size());
  EXPECT_EQ(header, plain);  // no filter registered: stored plain

  manager.RegisterFilter(std::make_unique<CFSFilter>(0));
  EncodeDirectoryBlock(&manager, header.data(), header.size());
  Bytes expected = plain;
  EncodeBuffer(expected.data(), static_cast<std::uint32_t>(expected.size()));
  EXPECT_EQ(header, expected);
  EXPECT_NE(Bytes(header.begin(), header.begin() + 4), Of("PACK"));
  DecodeDirectoryBlock(&manager, header.data(), header.size());
  EXPECT_EQ(header, plain);
  // A filter with another id is not the directory's filter.
  CFSManager other(dir.path());
  other.RegisterFilter(std::make_unique<CFSFilter>(1));
  EncodeDirectoryBlock(&other, header.data(), header.size());
  EXPECT_EQ(header, plain);
}

// The format layer itself takes the filter from its caller: any transform,
// and none at all.
TEST(PackFormatTest, DirectoryFilterIsWhatTheCallerPassesIn) {
  const Bytes plain = Of("PACK0123456789AB");
  Bytes block = plain;
  EncodeDirectoryBlock(DirectoryFilter(), block.data(), block.size());
  EXPECT_EQ(block, plain);
  std::size_t seen = 0;
  DirectoryFilter flip;
  flip.encode = [&seen](unsigned char* data, std::size_t length) {
    seen += length;
    for (std::size_t i = 0; i < length; ++i) data[i] ^= 0x5A;
  };
  flip.decode = flip.encode;
  EncodeDirectoryBlock(flip, block.data(), block.size());
  EXPECT_EQ(block[0], 'P' ^ 0x5A);
  DecodeDirectoryBlock(flip, block.data(), block.size());
  EXPECT_EQ(block, plain);
  EncodeDirectoryBlock(flip, block.data(), 0);  // an empty block is not passed on
  EXPECT_EQ(seen, 32u);

  PackTrailer trailer;
  trailer.nextName = "Data1.pak";  // as read from disk
  trailer.Refresh(nullptr);        // no next volume loaded: the name stays
  EXPECT_EQ(trailer.nextName, "Data1.pak");
  EXPECT_EQ(trailer.bodySize, 17u);
  const std::string next = "Data2.pak";
  trailer.Refresh(&next);
  EXPECT_EQ(trailer.nextName, "Data2.pak");
  EXPECT_EQ(trailer.nameLength, 9u);
}

}  // namespace
}  // namespace pkfs

// Handles: reading within the entry's bounds, the read-ahead window, the
// piecewise decode of filtered entries, seek, getc and gets.
#include "pkfs/fs_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_entry_store.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"

namespace {

using Bytes = std::vector<unsigned char>;
using pkfs_test::FakeEntryStore;
using pkfs_test::PatternBytes;

// Counts the pieces a filter is asked to restore.
class CountingFilter : public pkfs::CFSFilter {
 public:
  explicit CountingFilter(std::uint32_t filterId, int* calls)
      : CFSFilter(filterId), calls_(calls) {}
  bool Decode(unsigned char* buffer, std::uint32_t length, pkfs::CFSFile* handle) override {
    ++*calls_;
    return CFSFilter::Decode(buffer, length, handle);
  }

 private:
  int* calls_;
};

class FsFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<pkfs::CFSFile> Open(const Bytes& bytes, std::uint32_t flags = 0,
                                      std::uint32_t filterWord = 0) {
    auto handle = store_.MakeHandle(store_.AddEntry("E", bytes, flags, filterWord));
    handle->SetModeFromText("rb");
    handle->RefillWindow();
    return handle;
  }

  pkfs::CFSManager manager_{"/nowhere"};
  FakeEntryStore store_{&manager_};
};

TEST_F(FsFileTest, ReadsStopAtTheEndOfTheEntry) {
  auto handle = Open(PatternBytes(100));
  Bytes buffer(200, 0xEE);
  EXPECT_EQ(handle->Read(buffer.data(), 200), 100);
  EXPECT_EQ(handle->Tell(), 100);
  EXPECT_TRUE(handle->Eof());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 100), PatternBytes(100));
  EXPECT_EQ(buffer[100], 0xEE) << "nothing past what the entry holds";
  EXPECT_EQ(handle->Read(buffer.data(), 1), 0);
  EXPECT_EQ(handle->Getc(), -1);
}

TEST_F(FsFileTest, SeekFromTheEndCountsBackFromTheSize) {
  auto handle = Open(PatternBytes(100));
  EXPECT_TRUE(handle->Seek(1, 2));
  EXPECT_EQ(handle->Tell(), 99);
  EXPECT_TRUE(handle->Seek(5, 2));
  EXPECT_EQ(handle->Tell(), 95);
  EXPECT_TRUE(handle->Seek(10, 1));
  EXPECT_EQ(handle->Tell(), 105);
  EXPECT_TRUE(handle->Eof());
  EXPECT_TRUE(handle->Seek(3, 7)) << "an unknown origin changes nothing";
  EXPECT_EQ(handle->Tell(), 105);
  unsigned char byte;
  EXPECT_EQ(handle->Read(&byte, 1), 0) << "a position past the end reads nothing";
}

TEST_F(FsFileTest, ANegativePositionReadsNothing) {
  auto handle = Open(PatternBytes(100));
  handle->Seek(-5, 0);
  Bytes buffer(50, 0xEE);
  EXPECT_EQ(handle->Read(buffer.data(), 50), 0);
  EXPECT_EQ(buffer, Bytes(50, 0xEE));
  EXPECT_EQ(handle->Getc(), -1);
  EXPECT_FALSE(handle->Eof());
  // A seek that would run past the 32-bit range wraps instead of overflowing.
  handle->Seek(0x7FFFFFFF, 0);
  handle->Seek(0x7FFFFFFF, 1);
  EXPECT_EQ(handle->Read(buffer.data(), 50), 0);
}

TEST_F(FsFileTest, GetcSignExtendsAndEndsWithMinusOne) {
  auto handle = Open({0xC8, 0x41, 0xFF});
  EXPECT_EQ(handle->Getc(), -56);
  EXPECT_EQ(handle->Getc(), 0x41);
  EXPECT_EQ(handle->Getc(), -1) << "0xFF reads as -1 too";
  EXPECT_EQ(handle->Getc(), -1);
  EXPECT_TRUE(handle->Eof());
}

TEST_F(FsFileTest, GetsDropsTheLineEnd) {
  auto handle = Open({'a', 'b', '\r', '\n', 'c', 'd'});
  char line[16];
  EXPECT_EQ(handle->Gets(line, sizeof line), line);
  EXPECT_STREQ(line, "ab");
  EXPECT_EQ(handle->Tell(), 4);
  handle->Gets(line, sizeof line);
  EXPECT_STREQ(line, "cd");
  handle->Gets(line, sizeof line);
  EXPECT_STREQ(line, "") << "at the end the buffer is emptied";
}

TEST_F(FsFileTest, GetsKeepsLongLinesTerminatedAndReadsPastByteFF) {
  auto handle = Open({'x', 0xFF, 'y', 'z', '\n', 'w'});
  char line[4];
  handle->Gets(line, sizeof line);
  EXPECT_EQ(std::string(line), std::string("x\xFFy"));
  EXPECT_EQ(handle->Tell(), 3);
  handle->Gets(line, sizeof line);
  EXPECT_STREQ(line, "z");
  EXPECT_EQ(handle->Tell(), 5);
}

TEST_F(FsFileTest, GetsWithNoRoomWritesNothingOutsideTheBuffer) {
  auto handle = Open({'a', 'b', '\n'});
  char area[3] = {'#', '#', '#'};
  EXPECT_EQ(handle->Gets(area + 1, 0), area + 1);
  EXPECT_EQ(std::string(area, 3), "###");
  EXPECT_EQ(handle->Gets(area + 1, -4), area + 1);
  EXPECT_EQ(std::string(area, 3), "###");
  handle->Gets(area + 1, 1);
  EXPECT_EQ(std::string(area, 3), std::string("#\0#", 3)) << "only the terminator";
  EXPECT_EQ(handle->Tell(), 0) << "nothing was read";
  EXPECT_EQ(handle->Gets(nullptr, 10), nullptr);
}

TEST_F(FsFileTest, SequentialReadsAreServedFromTheWindow) {
  const Bytes data = PatternBytes(3000);
  auto handle = Open(data);
  EXPECT_EQ(store_.rawReads, 1) << "the window is filled at open";
  Bytes got;
  for (int c; (c = handle->Getc()) != -1 || !handle->Eof();) {
    got.push_back(static_cast<unsigned char>(c));
  }
  EXPECT_EQ(got, data);
  EXPECT_LE(store_.rawReads, 4) << "one store read per window";
}

TEST_F(FsFileTest, MixedSeeksAndReadsReturnTheEntryBytes) {
  const Bytes data = PatternBytes(5000, 11);
  auto handle = Open(data);
  std::uint32_t state = 1;
  auto next = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  };
  for (int step = 0; step < 2000; ++step) {
    if (next(4) == 0) handle->Seek(static_cast<std::int32_t>(next(5200)), 0);
    const std::int32_t before = handle->Tell();
    const std::uint32_t want = next(3) == 0 ? next(3000) : next(40);
    Bytes buffer(want + 1);
    const int got = handle->Read(buffer.data(), want);
    const std::int32_t expected = std::max<std::int32_t>(
        0, std::min<std::int32_t>(static_cast<std::int32_t>(want), 5000 - before));
    ASSERT_EQ(got, expected) << "step " << step;
    ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, data.begin() + before))
        << "step " << step << " at " << before << " for " << want;
    ASSERT_EQ(handle->Tell(), before + got);
  }
}

TEST_F(FsFileTest, AShortStoreReadNeverServesStaleWindowBytes) {
  const Bytes data = PatternBytes(2000);
  store_.shortReadLimit = 10;
  auto handle = Open(data);
  Bytes buffer(100);
  const int got = handle->Read(buffer.data(), 100);
  ASSERT_GT(got, 0);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, data.begin()));
  EXPECT_EQ(handle->Tell(), got);
}

class EncodedEntryTest : public FsFileTest {
 protected:
  void SetUp() override {
    plain_ = PatternBytes(3000, 5);
    encoded_ = plain_;
    pkfs::EncodeBuffer(encoded_.data(), 3000);
    manager_.RegisterFilter(std::make_unique<CountingFilter>(0, &decodeCalls_));
  }
  Bytes plain_;
  Bytes encoded_;
  int decodeCalls_ = 0;
};

TEST_F(EncodedEntryTest, PiecesOf1024And952DecodeLikeTheWholeEntry) {
  auto handle = Open(encoded_, pkfs::kFlagInPlace, 0x00070000);  // id in the low 16 bits
  Bytes got(3000);
  EXPECT_EQ(handle->Read(got.data(), 1024), 1024);
  EXPECT_EQ(handle->Read(got.data() + 1024, 1024), 1024);
  EXPECT_EQ(handle->Read(got.data() + 2048, 952), 952);
  EXPECT_EQ(got, plain_);
  EXPECT_EQ(handle->transferKind, pkfs::kTransferDecode);
}

TEST_F(EncodedEntryTest, ByteByByteGetcDecodesLikeTheWholeEntry) {
  auto handle = Open(encoded_, pkfs::kFlagInPlace);
  Bytes got;
  while (!handle->Eof()) got.push_back(static_cast<unsigned char>(handle->Getc()));
  EXPECT_EQ(got, plain_);
  EXPECT_LE(decodeCalls_, 3) << "decoded once per window";
}

TEST_F(EncodedEntryTest, ReadsAtAnyOffsetDecode) {
  auto handle = Open(encoded_, pkfs::kFlagInPlace);
  for (std::int32_t start : {0, 1, 1023, 1024, 1500, 2999}) {
    handle->Seek(start, 0);
    Bytes got(700);
    const int n = handle->Read(got.data(), 700);
    ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, plain_.begin() + start)) << start;
  }
}

TEST_F(EncodedEntryTest, AnUnknownFilterIdLeavesTheBytesAsStored) {
  auto handle = Open(encoded_, pkfs::kFlagInPlace, 3);
  Bytes got(3000);
  EXPECT_EQ(handle->Read(got.data(), 3000), 3000);
  EXPECT_EQ(got, encoded_);
  EXPECT_EQ(handle->transferKind, pkfs::kTransferDecode);
}

TEST_F(EncodedEntryTest, ResizingFlagUsesTheResizingList) {
  int resizingCalls = 0;
  manager_.RegisterResizingFilter(std::make_unique<CountingFilter>(0, &resizingCalls));
  auto handle = Open(encoded_, pkfs::kFlagResizing);
  Bytes got(3000);
  handle->Read(got.data(), 3000);
  EXPECT_GT(resizingCalls, 0);
  EXPECT_EQ(decodeCalls_, 0);
  EXPECT_EQ(handle->transferKind, pkfs::kTransferDecompress);
}

// Serves zeros for any entry, however long it claims to be.
class ZeroStore : public pkfs::CFS {
 public:
  using CFS::CFS;
  int RawRead(void* buffer, std::uint32_t length, pkfs::CFSFile* /*handle*/) override {
    std::memset(buffer, 0, length);
    return static_cast<int>(length);
  }
};

// Handle positions are 32-bit signed: an entry longer than that is served up
// to the last position a handle can stand on, and then it ends.
TEST_F(FsFileTest, AnEntryPastTwoGiBEndsAtTheLastSignedPosition) {
  ZeroStore zeros{&manager_};
  pkfs::FileHead head;
  head.size = 0xFFFFFFF0u;
  pkfs::CFSFile handle("HUGE", &zeros, nullptr, nullptr);
  handle.entry = &head;
  handle.Seek(0x7FFFFE00, 0);
  handle.RefillWindow();
  Bytes buffer(0x400);
  EXPECT_EQ(handle.Read(buffer.data(), 0x100), 0x100);
  EXPECT_EQ(handle.Read(buffer.data(), 0x400), 0xFF);
  EXPECT_EQ(handle.Tell(), 0x7FFFFFFF);
  EXPECT_TRUE(handle.Eof());
  EXPECT_EQ(handle.Getc(), -1);
  EXPECT_EQ(handle.Tell(), 0x7FFFFFFF);

  handle.Seek(0x7FFFFFF0, 0);
  handle.RefillWindow();
  int bytes = 0;
  while (!handle.Eof() && bytes < 100) {
    handle.Getc();
    ++bytes;
  }
  EXPECT_EQ(bytes, 15);
  EXPECT_EQ(handle.Tell(), 0x7FFFFFFF);
  handle.owner = nullptr;  // the store is a local; nothing to close
}

TEST_F(FsFileTest, ModeBitsComeFromTheModeText) {
  auto handle = Open({1, 2, 3});
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"r", 1}, {"rb", 9}, {"wb", 10}, {"rb+", 11}, {"wb+", 11}, {"ab+", 15}, {"ab", 12}};
  for (const auto& [text, bits] : cases) {
    handle->mode = 0;
    handle->SetModeFromText(text);
    EXPECT_EQ(handle->mode, bits) << text;
  }
}

TEST_F(FsFileTest, WritesNeedTheWriteOrAppendBit) {
  auto handle = Open({1, 2, 3});
  const unsigned char bytes[] = {9, 8};
  handle->mode = 0;
  handle->SetModeFromText("rb");
  EXPECT_EQ(handle->Write(bytes, 2), 0);
  EXPECT_TRUE(store_.written.empty());
  handle->SetModeFromText("ab");
  EXPECT_EQ(handle->Write(bytes, 2), 2);
  EXPECT_EQ(store_.written, (Bytes{9, 8}));
}

}  // namespace

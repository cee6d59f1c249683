// Handles over real volumes: filtered entries read piecewise, and writes
// through handles that store the whole file anew.
#include <gtest/gtest.h>

#include <string>

#include "pack_fixture.h"
#include "pkfs/fs_file.h"
#include "platform/random_access_file.h"

namespace pkfs_test {
namespace {

class PackHandlesTest : public PackFixture {
 protected:
  PackHandlesTest() {
    filtered_ = true;
    rules_ = {"txt", "xml"};
  }

  Bytes ReadAll(const std::string& name) {
    pkfs::CFSFile* handle = manager_->Open(name, "rb");
    if (handle == nullptr) return {};
    Bytes data(handle->entry->size);
    const int got = handle->Read(data.data(), static_cast<std::uint32_t>(data.size()));
    delete handle;
    data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return data;
  }

  void Write(const std::string& name, const char* mode, const Bytes& data, int seekTo = -1) {
    pkfs::CFSFile* handle = manager_->Open(name, mode);
    ASSERT_NE(handle, nullptr);
    if (seekTo >= 0) handle->Seek(seekTo, 0);
    EXPECT_EQ(handle->Write(data.data(), static_cast<std::uint32_t>(data.size())),
              static_cast<int>(data.size()));
    delete handle;
  }
};

TEST_F(PackHandlesTest, AFilteredEntryReadInPiecesEqualsTheWholeDecode) {
  ASSERT_TRUE(Mount());
  const Bytes original = Pattern(3000, 1);
  ASSERT_TRUE(Add("data/big.txt", original));
  pkfs::FileHead* head = manager_->FindName("DATA/BIG.TXT");
  ASSERT_NE(head, nullptr);
  ASSERT_EQ(head->flags, pkfs::kFlagStored | pkfs::kFlagInPlace);
  Bytes stored(3000);
  head->owner->ReadBuffer(stored.data(), head->start, 3000);
  ASSERT_NE(stored, original);
  Bytes whole = stored;
  pkfs::DecodeBuffer(whole.data(), 3000);
  ASSERT_EQ(whole, original);

  pkfs::CFSFile* handle = manager_->Open("data/big.txt", "rb");
  ASSERT_NE(handle, nullptr);
  Bytes pieces(3000);
  EXPECT_EQ(handle->Read(pieces.data(), 1024), 1024);
  EXPECT_EQ(handle->Read(pieces.data() + 1024, 1024), 1024);
  EXPECT_EQ(handle->Read(pieces.data() + 2048, 1000), 952);
  EXPECT_EQ(pieces, whole);
  EXPECT_TRUE(handle->Eof());
  handle->Seek(0, 0);
  // getc gives bytes sign-extended (0xFF reads as -1 too), so the end is
  // told by eof.
  Bytes byByte;
  while (!handle->Eof()) byByte.push_back(static_cast<unsigned char>(handle->Getc()));
  EXPECT_EQ(byByte, whole);
  EXPECT_EQ(handle->Getc(), -1);
  delete handle;
}

TEST_F(PackHandlesTest, WritingAfterOpeningWithWReplacesTheContent) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("notes.txt", Pattern(100, 2)));
  const Bytes ten = BytesOf("0123456789");
  Write("notes.txt", "wb", ten);
  EXPECT_EQ(ReadAll("notes.txt"), ten);
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(ReadAll("notes.txt"), ten);
  pkfs::FileHead* head = manager_->FindName("NOTES.TXT");
  ASSERT_EQ(head->size, 10u);
  Bytes encoded = ten;
  pkfs::EncodeBuffer(encoded.data(), 10);
  EXPECT_EQ(BytesOf(Disk("DATA.pak").substr(head->start, 10)), encoded);  // stored anew, filtered
  ExpectListsMatchRebuild();
}

TEST_F(PackHandlesTest, AppendingKeepsTheOldBytesFirst) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("log.bin", BytesOf("abcde")));
  Write("log.bin", "ab", BytesOf("xyz"));
  EXPECT_EQ(ReadAll("log.bin"), BytesOf("abcdexyz"));
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(ReadAll("log.bin"), BytesOf("abcdexyz"));
}

TEST_F(PackHandlesTest, WritingPastTheStartLeavesZerosBefore) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("gap.xml", BytesOf("12345678")));
  Write("gap.xml", "wb", BytesOf("xyz"), /*seekTo=*/2);
  EXPECT_EQ(ReadAll("gap.xml"), (Bytes{0, 0, 'x', 'y', 'z'}));
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(ReadAll("gap.xml"), (Bytes{0, 0, 'x', 'y', 'z'}));
}

TEST_F(PackHandlesTest, ReadingLeavesTheEntryWholeAndCannotWrite) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("keep.txt", Pattern(40, 3)));
  pkfs::CFSFile* handle = manager_->Open("keep.txt", "rb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->entry->size, 40u);
  const Bytes more = BytesOf("more");
  EXPECT_EQ(handle->Write(more.data(), 4), 0);
  delete handle;
  EXPECT_EQ(ReadAll("keep.txt"), Pattern(40, 3));
}

TEST_F(PackHandlesTest, AfterAWriteTheHandleReadsTheNewContent) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("grow.txt", BytesOf("abcde")));
  pkfs::CFSFile* handle = manager_->Open("grow.txt", "ab");
  ASSERT_NE(handle, nullptr);
  const Bytes more = BytesOf("xyz");
  ASSERT_EQ(handle->Write(more.data(), 3), 3);
  EXPECT_EQ(handle->Tell(), 8);
  handle->Seek(0, 0);
  Bytes back(8);
  EXPECT_EQ(handle->Read(back.data(), 8), 8);
  EXPECT_EQ(back, BytesOf("abcdexyz"));
  delete handle;
}

TEST_F(PackHandlesTest, AHandleOnAReplacedFileReadsNothing) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("moving.bin", Pattern(2000, 4)));
  pkfs::CFSFile* stale = manager_->Open("moving.bin", "rb");
  ASSERT_NE(stale, nullptr);
  ASSERT_TRUE(Add("moving.bin", Pattern(100, 5)));
  ASSERT_TRUE(Add("filler.bin", Pattern(2000, 6)));  // may reuse the old bytes
  stale->Seek(1500, 0);
  Bytes buffer(100);
  EXPECT_EQ(stale->Read(buffer.data(), 100), 0);
  delete stale;
  ASSERT_TRUE(fs_->RemoveFile("MOVING.BIN"));
  EXPECT_EQ(ReadAll("moving.bin"), Bytes());
}

TEST_F(PackHandlesTest, AWriteThatCannotBeStoredReportsNothingWritten) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("safe.bin", BytesOf("abcde")));
  pkfs::CFSFile* handle = manager_->Open("safe.bin", "ab");
  ASSERT_NE(handle, nullptr);
  faults_.onWrite = [](const std::string&, std::uint64_t, std::size_t) {
    testing_support::WriteDecision decision;
    decision.kind = testing_support::WriteDecision::kFail;
    return decision;
  };
  const Bytes more = BytesOf("xyz");
  EXPECT_EQ(handle->Write(more.data(), 3), 0);
  faults_.onWrite = nullptr;
  ASSERT_NE(handle->entry, nullptr);
  EXPECT_EQ(handle->entry->size, 5u);
  delete handle;
  EXPECT_EQ(ReadAll("safe.bin"), BytesOf("abcde"));
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(ReadAll("safe.bin"), BytesOf("abcde"));
}

TEST_F(PackHandlesTest, AHandleOpenAcrossAReleaseReadsNothing) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("held.txt", Pattern(3000, 9)));
  pkfs::CFSFile* handle = manager_->Open("held.txt", "rb");
  ASSERT_NE(handle, nullptr);
  // The volumes, their heads and their files go; the handle stays open.
  fs_->Release();
  handle->Seek(1500, 0);
  Bytes buffer(100);
  EXPECT_EQ(handle->Read(buffer.data(), 100), 0);
  EXPECT_EQ(handle->Getc(), -1);
  EXPECT_TRUE(handle->Eof());
  EXPECT_EQ(handle->Write(buffer.data(), 100), 0);
  delete handle;
  ASSERT_TRUE(fs_->Load("DATA.pak"));
  EXPECT_EQ(ReadAll("held.txt"), Pattern(3000, 9));
}

}  // namespace
}  // namespace pkfs_test

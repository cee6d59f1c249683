// Volumes on disk: byte layout of new volumes and of their directories,
// adding and removing, chains, and failed writes.
#include "pack_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "pack_fixture.h"
#include "pkfs/fs_file.h"
#include "platform/clock.h"
#include "platform/random_access_file.h"

namespace pkfs_test {
namespace {

using pkfs::PackArchive;

class PackArchiveTest : public PackFixture {};

// Write faults: a refused data, table or header write.
class WriteFaults {
 public:
  // Fails every write from the (failFrom)th on; counts all of them.
  WriteFaults(testing_support::FaultEnv& env, int failFrom) : env_(env) {
    env_.onWrite =
        [this, failFrom](const std::string&, std::uint64_t offset, std::size_t length) {
          writes.push_back({offset, length});
          testing_support::WriteDecision decision;
          if (static_cast<int>(writes.size()) >= failFrom)
            decision.kind = testing_support::WriteDecision::kFail;
          return decision;
        };
  }
  ~WriteFaults() { env_.onWrite = nullptr; }
  struct Write {
    std::uint64_t offset;
    std::size_t length;
  };
  std::vector<Write> writes;

 private:
  testing_support::FaultEnv& env_;
};

const Bytes kFreshVolume = {'P', 'A', 'C', 'K', 16, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0,
                            'P', 'K', 'E', 'S', 8,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0};

TEST_F(PackArchiveTest, FreshVolumeIsExactlyThirtyTwoBytes) {
  ASSERT_TRUE(Mount());
  EXPECT_EQ(BytesOf(Disk("DATA.pak")), kFreshVolume);
  ASSERT_EQ(fs_->archives().size(), 1u);
  PackArchive* volume = fs_->primary();
  EXPECT_EQ(volume->name(), "DATA.pak");
  EXPECT_EQ(volume->tableOffset(), 16u);
  EXPECT_EQ(volume->tableSize(), 16u);
  EXPECT_EQ(volume->leakList().bounds(), (std::vector<std::uint32_t>{0, 32}));
  // Loading it again gives the same volume.
  ASSERT_TRUE(Mount("DATA.pak", /*create=*/false));
  EXPECT_TRUE(fs_->primary()->heads().empty());
  EXPECT_EQ(fs_->primary()->leakList().bounds(), (std::vector<std::uint32_t>{0, 32}));
}

TEST_F(PackArchiveTest, WithTheFilterTheDirectoryIsStoredScrambled) {
  filtered_ = true;
  ASSERT_TRUE(Mount());
  const Bytes disk = BytesOf(Disk("DATA.pak"));
  ASSERT_EQ(disk.size(), 32u);
  EXPECT_NE(Bytes(disk.begin(), disk.begin() + 4), BytesOf("PACK"));
  Bytes header(kFreshVolume.begin(), kFreshVolume.begin() + 16);
  Bytes table(kFreshVolume.begin() + 16, kFreshVolume.end());
  pkfs::EncodeBuffer(header.data(), 16);
  pkfs::EncodeBuffer(table.data(), 16);
  EXPECT_EQ(Bytes(disk.begin(), disk.begin() + 16), header);  // one 16-byte block
  EXPECT_EQ(Bytes(disk.begin() + 16, disk.end()), table);     // the table as one block
  ASSERT_TRUE(Mount("DATA.pak", /*create=*/false));
  // Without the filter it is no pack volume.
  filtered_ = false;
  EXPECT_FALSE(Mount("DATA.pak", /*create=*/false));
}

TEST_F(PackArchiveTest, FirstFileGoesToThirtyTwoAndTheTableRightAfterIt) {
  ASSERT_TRUE(Mount());
  platform::SetLocalTimeSourceForTesting([] {
    platform::LocalTime t;
    t.year = 2010, t.month = 2, t.day = 9, t.hour = 8, t.minute = 5, t.second = 3;
    return t;
  });
  platform::SetTickSourceForTesting([] { return 1000u; });
  testing::internal::CaptureStdout();
  const bool added = Add("data\\a.bin", Pattern(100, 1));
  const std::string out = testing::internal::GetCapturedStdout();
  platform::SetLocalTimeSourceForTesting(nullptr);
  platform::SetTickSourceForTesting(nullptr);
  ASSERT_TRUE(added);
  EXPECT_EQ(out,
            "2010/02/09 8:5:3 AddFileFromBuffer DATA.pak:DATA/A.BIN Leak StartPos = 32\n"
            " Cost Time is 0\n");

  const DiskDirectory disk = ReadDirectory("DATA.pak");
  EXPECT_EQ(disk.header.tableOffset, 132u);
  EXPECT_EQ(disk.header.tableSize, 20u + 10u + 16u);
  EXPECT_EQ(disk.header.headCount, 1u);
  ASSERT_EQ(disk.heads.size(), 1u);
  EXPECT_EQ(disk.heads[0].name, "DATA/A.BIN");
  EXPECT_EQ(disk.heads[0].start, 32u);
  EXPECT_EQ(disk.heads[0].size, 100u);
  EXPECT_EQ(disk.heads[0].flags, pkfs::kFlagStored);
  EXPECT_EQ(disk.heads[0].filterWord, 0u);
  ASSERT_TRUE(disk.hasTrailer);
  EXPECT_EQ(disk.trailer.checksum, pkfs::ByteSum(disk.table.data(), 30));
  EXPECT_EQ(disk.trailer.nextName, "");
  EXPECT_EQ(Disk("DATA.pak").size(), 132u + 46u);
  EXPECT_EQ(BytesOf(Disk("DATA.pak").substr(32, 100)), Pattern(100, 1));
  // The old table's place stays a gap.
  EXPECT_EQ(fs_->primary()->leakList().bounds(), (std::vector<std::uint32_t>{0, 16, 32, 178}));
  ExpectListsMatchRebuild();
}

TEST_F(PackArchiveTest, NamedFilesAreScrambledAndFlagged) {
  filtered_ = true;
  rules_ = {"txt"};
  ASSERT_TRUE(Mount());
  const Bytes text = BytesOf("plain text that the rule selects");
  Bytes buffer = text;
  ASSERT_TRUE(
      fs_->AddFile("notes/readme.txt", buffer.data(), static_cast<std::uint32_t>(buffer.size())));
  Bytes encoded = text;
  pkfs::EncodeBuffer(encoded.data(), static_cast<std::uint32_t>(encoded.size()));
  EXPECT_EQ(buffer, encoded);  // the caller's buffer holds the stored bytes
  EXPECT_EQ(BytesOf(Disk("DATA.pak").substr(32, text.size())), encoded);
  const DiskDirectory disk = ReadDirectory("DATA.pak");
  ASSERT_EQ(disk.heads.size(), 1u);
  EXPECT_EQ(disk.heads[0].flags, pkfs::kFlagStored | pkfs::kFlagInPlace);
  EXPECT_EQ(StoredContent("NOTES/README.TXT"), text);
}

TEST_F(PackArchiveTest, RemovingTheLastFileLeavesAnEmptyTableAtSixteen) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("a", Pattern(100, 2)));
  const std::size_t length = Disk("DATA.pak").size();
  EXPECT_TRUE(fs_->RemoveFile("A"));
  const DiskDirectory disk = ReadDirectory("DATA.pak");
  EXPECT_EQ(disk.header.headCount, 0u);
  EXPECT_EQ(disk.header.tableOffset, 16u);
  EXPECT_EQ(disk.header.tableSize, 16u);
  EXPECT_EQ(Disk("DATA.pak").size(), length);  // never shortened
  EXPECT_EQ(BytesOf(Disk("DATA.pak").substr(0, 32)), kFreshVolume);
  EXPECT_EQ(fs_->primary()->leakList().bounds(), (std::vector<std::uint32_t>{0, 32}));
  EXPECT_EQ(manager_->FindName("A"), nullptr);
  // Removing a name nobody holds writes nothing.
  EXPECT_TRUE(fs_->RemoveFile("A"));
  EXPECT_EQ(Disk("DATA.pak").size(), length);
}

TEST_F(PackArchiveTest, FreedSpaceIsReusedByFirstFit) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("one", Pattern(300, 3)));
  ASSERT_TRUE(Add("two", Pattern(300, 4)));
  ASSERT_TRUE(Add("three", Pattern(300, 5)));
  const std::uint32_t twoStart = manager_->FindName("TWO")->start;
  ASSERT_TRUE(fs_->RemoveFile("TWO"));
  ExpectListsMatchRebuild();
  const std::size_t length = Disk("DATA.pak").size();
  ASSERT_TRUE(Add("four", Pattern(200, 6)));
  // The gap left by TWO (joined with an old table's place before it) takes
  // the new file; the volume does not grow.
  const std::uint32_t fourStart = manager_->FindName("FOUR")->start;
  EXPECT_LE(fourStart, twoStart);
  EXPECT_LE(fourStart + 200, twoStart + 300);
  EXPECT_EQ(Disk("DATA.pak").size(), length);
  ExpectListsMatchRebuild();
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(StoredContent("ONE"), Pattern(300, 3));
  EXPECT_EQ(StoredContent("THREE"), Pattern(300, 5));
  EXPECT_EQ(StoredContent("FOUR"), Pattern(200, 6));
  EXPECT_EQ(manager_->FindName("TWO"), nullptr);
}

TEST_F(PackArchiveTest, ReplacingAFileKeepsOneRecordWithTheNewContent) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("same", Pattern(50, 7)));
  ASSERT_TRUE(Add("other", Pattern(50, 8)));
  ASSERT_TRUE(Add("SAME", Pattern(70, 9)));
  ASSERT_EQ(fs_->primary()->heads().size(), 2u);
  EXPECT_EQ(StoredContent("SAME"), Pattern(70, 9));
  ExpectListsMatchRebuild();
  ASSERT_TRUE(Mount("DATA.pak", false));
  const DiskDirectory disk = ReadDirectory("DATA.pak");
  ASSERT_EQ(disk.heads.size(), 2u);
  EXPECT_EQ(disk.heads[1].name, "SAME");
  EXPECT_EQ(StoredContent("SAME"), Pattern(70, 9));
  EXPECT_EQ(StoredContent("OTHER"), Pattern(50, 8));
}

// After every kind of change the table on disk lists exactly the heads in
// memory, in order, with the checksum of their records.
TEST_F(PackArchiveTest, TheDirectoryOnDiskAlwaysMatchesTheHeads) {
  filtered_ = true;
  ASSERT_TRUE(Mount());
  auto check = [this](const char* step) {
    const DiskDirectory disk = ReadDirectory("DATA.pak");
    const auto& heads = fs_->primary()->heads();
    ASSERT_EQ(disk.heads.size(), heads.size()) << step;
    std::size_t recordBytes = 0;
    for (std::size_t i = 0; i < heads.size(); ++i) {
      EXPECT_EQ(disk.heads[i].name, heads[i]->name) << step;
      EXPECT_EQ(disk.heads[i].start, heads[i]->start) << step;
      EXPECT_EQ(disk.heads[i].size, heads[i]->size) << step;
      EXPECT_EQ(disk.heads[i].flags, heads[i]->flags) << step;
      recordBytes += heads[i]->RecordSize();
    }
    EXPECT_EQ(disk.trailer.checksum, pkfs::ByteSum(disk.table.data(), recordBytes)) << step;
    ExpectListsMatchRebuild();
  };
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(Add("f" + std::to_string(i), Pattern(30 + i, i)));
  check("adds");
  ASSERT_TRUE(fs_->RemoveFile("F2"));
  check("removal");
  ASSERT_TRUE(Add("f4", Pattern(80, 40)));
  check("replace");
  ASSERT_TRUE(Add("f6", Pattern(10, 41)));
  check("add after a replace");
  {
    WriteFaults faults(faults_, 2);
    EXPECT_FALSE(Add("f7", Pattern(10, 42)));
  }
  ASSERT_TRUE(Add("f8", Pattern(10, 43)));
  check("add after a failed add");
  pkfs::CFSFile* writer = manager_->Open("f0", "wb");
  ASSERT_NE(writer, nullptr);
  ASSERT_TRUE(Add("f9", Pattern(10, 44)));
  check("add while an entry is open for writing");
  delete writer;
  ASSERT_TRUE(fs_->CreateVolume(""));
  check("link");
}

TEST_F(PackArchiveTest, EmptyFilesAreListedUntilTheVolumeIsLoadedAgain) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("empty", {}));
  ASSERT_TRUE(Add("full", Pattern(10, 10)));
  DiskDirectory disk = ReadDirectory("DATA.pak");
  EXPECT_EQ(disk.header.headCount, 2u);
  ASSERT_EQ(disk.heads.size(), 2u);
  EXPECT_EQ(disk.heads[0].size, 0u);

  ASSERT_TRUE(Mount("DATA.pak", false));
  PackArchive* volume = fs_->primary();
  ASSERT_EQ(volume->heads().size(), 1u);  // the empty record was consumed and dropped
  EXPECT_EQ(volume->headCount(), 2u);     // as read, until the next write
  EXPECT_EQ(manager_->FindName("EMPTY"), nullptr);
  EXPECT_EQ(StoredContent("FULL"), Pattern(10, 10));
  ASSERT_TRUE(Add("more", Pattern(5, 11)));
  disk = ReadDirectory("DATA.pak");
  EXPECT_EQ(disk.header.headCount, 2u);
  EXPECT_EQ(volume->headCount(), 2u);
}

TEST_F(PackArchiveTest, ATableWithoutTrailerLoadsAndGainsOneOnRewrite) {
  WriteVolume(dir_.Join("DATA.pak"), {Head("OLD", 16, 8)}, Pattern(8, 12), /*trailer=*/false);
  ASSERT_TRUE(Mount("DATA.pak", false));
  PackArchive* volume = fs_->primary();
  EXPECT_EQ(volume->trailer(), nullptr);
  EXPECT_EQ(volume->next(), nullptr);
  EXPECT_EQ(StoredContent("OLD"), Pattern(8, 12));
  ASSERT_TRUE(Add("new", Pattern(4, 13)));
  const DiskDirectory disk = ReadDirectory("DATA.pak");
  EXPECT_TRUE(disk.hasTrailer);
  EXPECT_EQ(disk.table.size(), 23u + 23u + 16u);
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(StoredContent("OLD"), Pattern(8, 12));
  EXPECT_EQ(StoredContent("NEW"), Pattern(4, 13));
}

TEST_F(PackArchiveTest, ARepeatedNameInOneTableKeepsTheFirstInTheVolume) {
  Bytes data = Pattern(8, 14);
  WriteVolume(dir_.Join("DATA.pak"), {Head("TWICE", 16, 4), Head("TWICE", 20, 4)}, data, true);
  ASSERT_TRUE(Mount("DATA.pak", false));
  PackArchive* volume = fs_->primary();
  ASSERT_EQ(volume->heads().size(), 2u);
  EXPECT_EQ(volume->FindHead("TWICE")->start, 16u);
  // Registration runs in table order: the later record is what the map holds.
  EXPECT_EQ(manager_->FindName("TWICE")->start, 20u);
  // A removal takes every record of the name.
  EXPECT_TRUE(fs_->RemoveFile("TWICE"));
  EXPECT_TRUE(volume->heads().empty());
  EXPECT_EQ(manager_->FindName("TWICE"), nullptr);
  ExpectListsMatchRebuild();
}

TEST_F(PackArchiveTest, ThreeChainedVolumesLoadFromTheFirst) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(fs_->CreateVolume(""));
  ASSERT_TRUE(fs_->CreateVolume(""));
  ASSERT_EQ(fs_->archives().size(), 3u);
  EXPECT_EQ(fs_->archives()[1]->name(), "Data1.pak");
  EXPECT_EQ(fs_->archives()[2]->name(), "Data2.pak");
  EXPECT_EQ(ReadDirectory("DATA.pak").trailer.nextName, "Data1.pak");
  EXPECT_EQ(ReadDirectory("Data1.pak").trailer.nextName, "Data2.pak");
  EXPECT_EQ(ReadDirectory("Data2.pak").trailer.nextName, "");

  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Load DATA.pak to Pkfs\nLoad Data1.pak to Pkfs\nLoad Data2.pak to Pkfs\n");
  ASSERT_EQ(fs_->archives().size(), 3u);
  EXPECT_EQ(fs_->archives()[0]->next(), fs_->archives()[1].get());
  EXPECT_EQ(fs_->archives()[1]->next(), fs_->archives()[2].get());
  EXPECT_EQ(fs_->archives()[2]->next(), nullptr);
  ExpectListsMatchRebuild();
}

TEST_F(PackArchiveTest, TheLaterVolumesCopyOfANameWins) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(fs_->CreateVolume(""));
  Bytes first = Pattern(20, 15), second = Pattern(30, 16);
  ASSERT_TRUE(fs_->archives()[1]->AddFileFromBuffer("X", second.data(), 30, true));
  ASSERT_TRUE(fs_->archives()[0]->AddFileFromBuffer("X", first.data(), 20, true));
  ASSERT_TRUE(Mount("DATA.pak", false));
  ASSERT_EQ(fs_->archives().size(), 2u);
  EXPECT_EQ(manager_->FindName("X")->owner, fs_->archives()[1].get());
  EXPECT_EQ(StoredContent("X"), Pattern(30, 16));
  ASSERT_NE(fs_->archives()[0]->FindHead("X"), nullptr);
  EXPECT_EQ(fs_->archives()[0]->FindHead("X")->size, 20u);

  // Adding the name again leaves one copy, in the first volume with room.
  ASSERT_TRUE(Add("x", Pattern(25, 17)));
  EXPECT_EQ(fs_->archives()[1]->FindHead("X"), nullptr);
  EXPECT_EQ(manager_->FindName("X")->owner, fs_->archives()[0].get());
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(fs_->archives()[1]->FindHead("X"), nullptr);
  EXPECT_EQ(StoredContent("X"), Pattern(25, 17));
}

TEST_F(PackArchiveTest, AFileThatDoesNotFitOpensTheNextVolume) {
  sizeLimit_ = 400;
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("a", Pattern(300, 18)));
  ASSERT_EQ(fs_->archives().size(), 1u);
  ASSERT_TRUE(Add("b", Pattern(300, 19)));
  ASSERT_EQ(fs_->archives().size(), 2u);
  EXPECT_EQ(fs_->archives()[1]->name(), "Data1.pak");
  EXPECT_EQ(manager_->FindName("B")->owner, fs_->archives()[1].get());
  EXPECT_EQ(ReadDirectory("DATA.pak").trailer.nextName, "Data1.pak");
  EXPECT_EQ(ReadDirectory("Data1.pak").heads.size(), 1u);

  // A third that fits neither skips the name of a file already there.
  testing_support::WriteFile(dir_.Join("Data2.pak"), "not a volume");
  ASSERT_TRUE(Add("c", Pattern(300, 20)));
  ASSERT_EQ(fs_->archives().size(), 3u);
  EXPECT_EQ(fs_->archives()[2]->name(), "Data3.pak");
  EXPECT_EQ(ReadDirectory("Data1.pak").trailer.nextName, "Data3.pak");
  ExpectListsMatchRebuild();

  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(fs_->archives().size(), 3u);
  EXPECT_EQ(StoredContent("A"), Pattern(300, 18));
  EXPECT_EQ(StoredContent("B"), Pattern(300, 19));
  EXPECT_EQ(StoredContent("C"), Pattern(300, 20));
}

TEST_F(PackArchiveTest, AFileNoVolumeCanHoldIsRefused) {
  sizeLimit_ = 200;
  ASSERT_TRUE(Mount());
  EXPECT_FALSE(Add("huge", Pattern(168, 21)));  // 200 - 32 is not more than 168
  EXPECT_EQ(fs_->archives().size(), 1u);
  EXPECT_FALSE(testing_support::FileExists(dir_.Join("Data1.pak")));
  EXPECT_EQ(manager_->FindName("HUGE"), nullptr);
  EXPECT_TRUE(Add("fits", Pattern(167, 22)));
}

// A source that hands out bytes in order, and can be told to fail.
pkfs::CPKFSF::PieceSource SourceOf(const Bytes& bytes, std::size_t* offset,
                                   std::size_t failAt = SIZE_MAX) {
  return [&bytes, offset, failAt](unsigned char* buffer, std::uint32_t length) {
    if (*offset + length > bytes.size() || *offset + length > failAt) return false;
    std::copy(bytes.begin() + *offset, bytes.begin() + *offset + length, buffer);
    *offset += length;
    return true;
  };
}

TEST_F(PackArchiveTest, FilesFromASourceAreStoredInPiecesAsFromABuffer) {
  filtered_ = true;
  rules_ = {"txt"};
  ASSERT_TRUE(Mount());
  // Pieces of 1 MiB: three and a bit, filtered and not, and one piece.
  const Bytes big = Pattern((3 << 20) + 17, 23);
  const Bytes small = Pattern(1000, 24);
  for (const char* name : {"big.txt", "big.bin"}) {
    std::size_t offset = 0;
    ASSERT_TRUE(fs_->AddFileFromSource(name, big.size(), SourceOf(big, &offset))) << name;
    EXPECT_EQ(offset, big.size());
  }
  std::size_t offset = 0;
  ASSERT_TRUE(fs_->AddFileFromSource("small.txt", small.size(), SourceOf(small, &offset)));
  EXPECT_EQ(StoredContent("BIG.TXT"), big);
  EXPECT_EQ(StoredContent("BIG.BIN"), big);
  EXPECT_EQ(StoredContent("SMALL.TXT"), small);
  // Scrambled piece by piece as the whole file would have been.
  Bytes encoded = big;
  pkfs::EncodeBuffer(encoded.data(), static_cast<std::uint32_t>(encoded.size()));
  const pkfs::FileHead* head = manager_->FindName("BIG.TXT");
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(BytesOf(Disk("DATA.pak").substr(head->start, head->size)), encoded);

  // A source that fails stores nothing, and one too large is refused unread.
  offset = 0;
  EXPECT_FALSE(fs_->AddFileFromSource("fails.bin", big.size(), SourceOf(big, &offset, 2 << 20)));
  EXPECT_EQ(manager_->FindName("FAILS.BIN"), nullptr);
  offset = 0;
  const std::uint64_t largest = fs_->LargestFileSize();
  EXPECT_EQ(largest, pkfs::kDefaultVolumeSizeLimit - 33u);
  EXPECT_FALSE(fs_->AddFileFromSource("huge.bin", largest + 1, SourceOf(big, &offset)));
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(fs_->lastFailure().ToString(),
            "HUGE.BIN: too large for a pack volume (" + std::to_string(largest + 1) +
                " bytes; a volume holds at most " + std::to_string(largest) + ")");
  ExpectListsMatchRebuild();
}

TEST_F(PackArchiveTest, PublishMatchesCommandsByExactBytes) {
  ASSERT_TRUE(Mount());
  testing_support::WriteFile(dir_.Join("loose.bin"), "loose bytes");
  PackArchive* volume = fs_->primary();
  EXPECT_FALSE(pkfs::Publish(volume, "CPKFSFAddFil", "loose.bin"));
  EXPECT_FALSE(pkfs::Publish(volume, "CPKFSFAddFilee", "loose.bin"));
  EXPECT_FALSE(pkfs::Publish(volume, std::string("CPKFSFAddFile\0", 14), "loose.bin"));
  EXPECT_TRUE(volume->heads().empty());
  EXPECT_FALSE(pkfs::Publish(volume, "CPKFSFAddFile", "loose.bin"));
  ASSERT_NE(volume->FindHead("loose.bin"), nullptr);  // stored under the path as given
  EXPECT_EQ(StoredContent("loose.bin"), BytesOf("loose bytes"));
  EXPECT_FALSE(pkfs::Publish(volume, "CPKFSFAddFile", "missing.bin"));
  EXPECT_EQ(volume->heads().size(), 1u);
  EXPECT_FALSE(pkfs::Publish(volume, "CPKFSFRemoveFile", "loose.bin"));
  EXPECT_TRUE(volume->heads().empty());
}

TEST_F(PackArchiveTest, AFailedDataWriteStoresNothing) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("keep", Pattern(40, 23)));
  const std::string before = Disk("DATA.pak");
  const std::vector<std::uint32_t> bounds = fs_->primary()->leakList().bounds();
  {
    WriteFaults faults(faults_, 1);
    EXPECT_FALSE(Add("lost", Pattern(40, 24)));
    EXPECT_EQ(faults.writes.size(), 3u);  // the data write, tried three times, then nothing
  }
  EXPECT_EQ(Disk("DATA.pak"), before);
  EXPECT_EQ(fs_->primary()->heads().size(), 1u);
  EXPECT_EQ(fs_->primary()->leakList().bounds(), bounds);
  EXPECT_EQ(manager_->FindName("LOST"), nullptr);
  EXPECT_TRUE(Add("later", Pattern(40, 25)));
  ExpectListsMatchRebuild();
}

TEST_F(PackArchiveTest, AFailedTableWriteIsNeverFollowedByAHeaderWrite) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("keep", Pattern(40, 26)));
  const std::vector<std::uint32_t> bounds = fs_->primary()->leakList().bounds();
  const std::uint32_t tableOffset = fs_->primary()->tableOffset();
  {
    WriteFaults faults(faults_, 2);  // the data go through, the table does not
    EXPECT_FALSE(Add("lost", Pattern(40, 27)));
    ASSERT_EQ(faults.writes.size(), 4u);
    for (std::size_t i = 1; i < faults.writes.size(); ++i) EXPECT_NE(faults.writes[i].offset, 0u);
  }
  EXPECT_EQ(fs_->primary()->tableOffset(), tableOffset);
  EXPECT_EQ(fs_->primary()->heads().size(), 1u);
  EXPECT_EQ(fs_->primary()->leakList().bounds(), bounds);
  EXPECT_EQ(manager_->FindName("LOST"), nullptr);
  {
    WriteFaults faults(faults_, 1);
    EXPECT_FALSE(fs_->RemoveFile("KEEP"));
  }
  EXPECT_NE(manager_->FindName("KEEP"), nullptr);
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(StoredContent("KEEP"), Pattern(40, 26));
  EXPECT_EQ(manager_->FindName("LOST"), nullptr);
}

TEST_F(PackArchiveTest, AFailedReplaceKeepsTheOldCopy) {
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("file", Pattern(40, 28)));
  {
    WriteFaults faults(faults_, 2);
    EXPECT_FALSE(Add("file", Pattern(60, 29)));
  }
  EXPECT_EQ(StoredContent("FILE"), Pattern(40, 28));
  ExpectListsMatchRebuild();
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(StoredContent("FILE"), Pattern(40, 28));
}

}  // namespace
}  // namespace pkfs_test

// Volumes that break the format: every one is refused (or its chain cut)
// without reading outside a buffer, allocating from a bad count, or
// registering anything.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack_fixture.h"
#include "platform/byte_order.h"

namespace pkfs_test {
namespace {

class PackCorruptTest : public PackFixture {
 protected:
  // A sound volume: two files of 8 bytes at 16 and 24, the table at 32.
  Bytes SoundVolume() {
    WriteVolume(dir_.Join("DATA.pak"), {Head("AB", 16, 8), Head("CDE", 24, 8)}, Pattern(16, 1),
                true);
    return BytesOf(Disk("DATA.pak"));
  }

  void Put(const Bytes& file, const std::string& name = "DATA.pak") {
    testing_support::WriteFile(dir_.Join(name), std::string(file.begin(), file.end()));
  }

  static void SetU32(Bytes& file, std::size_t at, std::uint32_t value) {
    platform::StoreU32(file.data() + at, value);
  }

  // Mounting name loads nothing and leaves the manager's map empty.
  void ExpectRefused(const std::string& why) {
    testing::internal::CaptureStdout();
    const bool loaded = Mount("DATA.pak", /*create=*/false);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(loaded) << why;
    EXPECT_TRUE(fs_->archives().empty()) << why;
    EXPECT_TRUE(manager_->fileMap().empty()) << why;
    EXPECT_EQ(out, "") << why;
  }
};

// Offsets into SoundVolume(): the table starts at 32; the first record's
// name length at 32, its start at 38 and size at 42; the second record at 54.
// (name length, 2 name bytes, then start, size, flags, filter word)
constexpr std::size_t kTable = 32;

TEST_F(PackCorruptTest, TheSoundVolumeLoads) {
  SoundVolume();
  ASSERT_TRUE(Mount("DATA.pak", false));
  const Bytes data = Pattern(16, 1);
  EXPECT_EQ(StoredContent("AB"), Bytes(data.begin(), data.begin() + 8));
  EXPECT_EQ(StoredContent("CDE"), Bytes(data.begin() + 8, data.end()));
}

TEST_F(PackCorruptTest, TruncatedOrForeignHeadersAreRefused) {
  const Bytes sound = SoundVolume();
  for (std::size_t length : {0, 1, 4, 15}) {
    Put(Bytes(sound.begin(), sound.begin() + static_cast<long>(length)));
    ExpectRefused("header of " + std::to_string(length) + " bytes");
  }
  Bytes foreign = sound;
  foreign[3] = 'X';
  Put(foreign);
  ExpectRefused("magic");
}

TEST_F(PackCorruptTest, TablesOutsideTheFileAreRefused) {
  const Bytes sound = SoundVolume();
  Bytes file = sound;
  SetU32(file, 4, 8);  // inside the header
  Put(file);
  ExpectRefused("table offset below 16");
  file = sound;
  SetU32(file, 8, static_cast<std::uint32_t>(sound.size() - kTable + 1));
  Put(file);
  ExpectRefused("table one byte past the end");
  file = sound;
  SetU32(file, 8, 0xFFFFFFFF);  // would be a 4 GiB allocation if trusted
  Put(file);
  ExpectRefused("huge table size");
  file = sound;
  SetU32(file, 4, 0xFFFFFFF0);
  Put(file);
  ExpectRefused("table offset past the end");
  Put(Bytes(sound.begin(), sound.end() - 1));
  ExpectRefused("file cut inside the table");
}

TEST_F(PackCorruptTest, RecordsThatLeaveTheTableAreRefused) {
  const Bytes sound = SoundVolume();
  Bytes file = sound;
  SetU32(file, kTable, 1000);
  Put(file);
  ExpectRefused("name length past the table");
  file = sound;
  SetU32(file, kTable, 0xFFFFFFFF);
  Put(file);
  ExpectRefused("name length 0xFFFFFFFF");
  file = sound;
  SetU32(file, 12, 0xFFFFFFFF);
  Put(file);
  ExpectRefused("huge head count");
  file = sound;
  SetU32(file, 12, 3);  // the trailer would have to be a third record
  Put(file);
  ExpectRefused("head count one too many");
}

TEST_F(PackCorruptTest, DataRegionsMustLieInsideTheFileAndApart) {
  const Bytes sound = SoundVolume();
  struct Case {
    std::size_t at;
    std::uint32_t value;
    const char* why;
  } cases[] = {
      {kTable + 6, 0x7FFFFFFF, "data start past the end"},
      {kTable + 6, 28, "data overlapping the table"},
      {kTable + 6, 8, "data overlapping the header"},
      {kTable + 6, 20, "data overlapping the next file"},
      {kTable + 10, 0xFFFFFFFF, "data size past the end"},
      {kTable + 10, 17, "data size into the table"},
  };
  for (const Case& c : cases) {
    Bytes file = sound;
    SetU32(file, c.at, c.value);
    Put(file);
    ExpectRefused(c.why);
  }
}

// Offsets are 32-bit: a region that ends past 4 GiB cannot be told apart
// from one that wraps to the start of the volume, even in a file that long.
TEST_F(PackCorruptTest, RegionsEndingPastFourGiBAreRefused) {
  const Bytes sound = SoundVolume();
  const std::uintmax_t pastFourGiB = (std::uintmax_t{1} << 32) + 4096;
  Bytes file = sound;
  SetU32(file, kTable + 6, 0xFFFFFF00);
  SetU32(file, kTable + 10, 0x200);
  Put(file);
  std::filesystem::resize_file(dir_.Join("DATA.pak"), pastFourGiB);  // sparse
  ExpectRefused("data region ending past 4 GiB");

  // The table moved to the end of a file that long, reaching past 4 GiB.
  file = sound;
  Bytes table(sound.begin() + kTable, sound.end());
  SetU32(file, 4, 0xFFFFFFF0);
  file.resize(kTable);
  Put(file);
  std::filesystem::resize_file(dir_.Join("DATA.pak"), 0xFFFFFFF0);
  {
    std::fstream out(dir_.Join("DATA.pak"), std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(0xFFFFFFF0);
    out.write(reinterpret_cast<const char*>(table.data()), static_cast<long>(table.size()));
  }
  ExpectRefused("table ending past 4 GiB");
}

TEST_F(PackCorruptTest, TrailersThatLeaveTheTableAreRefused) {
  const Bytes sound = SoundVolume();
  // The trailer starts after the two records (23 + 22 bytes).
  const std::size_t trailer = kTable + 22 + 23;
  Bytes file = sound;
  SetU32(file, trailer + 12, 1);  // a one-byte next name that is not there
  Put(file);
  ExpectRefused("trailer name past the table");
  file = sound;
  SetU32(file, 8, 22 + 23 + 5);  // only five trailer bytes left in the table
  Put(file);
  ExpectRefused("trailer cut short");
}

TEST_F(PackCorruptTest, ChainsStopAtVolumesAlreadyLoaded) {
  WriteVolume(dir_.Join("DATA.pak"), {Head("A", 16, 4)}, Pattern(4, 2), true, "Data1.pak");
  WriteVolume(dir_.Join("Data1.pak"), {Head("B", 16, 4)}, Pattern(4, 3), true, "DATA.pak");
  ASSERT_TRUE(Mount("DATA.pak", false));
  ASSERT_EQ(fs_->archives().size(), 2u);
  EXPECT_EQ(fs_->archives()[1]->next(), nullptr);
  EXPECT_NE(manager_->FindName("B"), nullptr);

  // A volume naming itself, also under another spelling of its name.
  for (const char* self : {"DATA.pak", "./DATA.pak", "data.PAK"}) {
    WriteVolume(dir_.Join("DATA.pak"), {Head("A", 16, 4)}, Pattern(4, 2), true, self);
    ASSERT_TRUE(Mount("DATA.pak", false)) << self;
    EXPECT_EQ(fs_->archives().size(), 1u) << self;
    EXPECT_EQ(fs_->primary()->next(), nullptr) << self;
  }
}

TEST_F(PackCorruptTest, ABadOrMissingNextVolumeEndsTheChainAndABadOneEndsWrites) {
  WriteVolume(dir_.Join("DATA.pak"), {Head("A", 16, 4)}, Pattern(4, 4), true, "Data1.pak");
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(fs_->archives().size(), 1u);
  EXPECT_EQ(fs_->primary()->next(), nullptr);

  // A missing volume holds nothing: the set still grows, past its name.
  ASSERT_TRUE(fs_->CreateVolume("Data2.pak"));
  EXPECT_EQ(ReadDirectory("DATA.pak").trailer.nextName, "Data2.pak");
  WriteVolume(dir_.Join("DATA.pak"), {Head("A", 16, 4)}, Pattern(4, 4), true, "Data1.pak");

  // A damaged one may hold copies that a store would have to replace: the
  // set is read as far as it loads, and not written.
  WriteVolume(dir_.Join("Data1.pak"), {Head("B", 16, 400)}, Pattern(4, 5), true);
  const std::string data1 = testing_support::ReadFile(dir_.Join("Data1.pak"));
  const std::string first = testing_support::ReadFile(dir_.Join("DATA.pak"));
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(fs_->archives().size(), 1u);
  EXPECT_EQ(manager_->FindName("B"), nullptr);
  EXPECT_EQ(StoredContent("A"), Pattern(4, 4));
  EXPECT_FALSE(Add("c", Pattern(4, 6)));
  EXPECT_EQ(fs_->lastFailure().context(), "Data1.pak");
  EXPECT_NE(fs_->lastFailure().Reason().find(
                "; the set is not written while a volume of its chain does not load"),
            std::string::npos)
      << fs_->lastFailure().ToString();
  EXPECT_FALSE(fs_->CreateVolume(""));
  EXPECT_FALSE(fs_->RemoveFile("A"));
  EXPECT_EQ(testing_support::ReadFile(dir_.Join("DATA.pak")), first);
  EXPECT_EQ(testing_support::ReadFile(dir_.Join("Data1.pak")), data1);
}

// Random damage to sound volumes, plain and filtered: whatever loads is
// sound, and nothing crashes or reads astray (run under the sanitizers).
TEST_F(PackCorruptTest, RandomDamageLoadsOnlySoundVolumes) {
  for (bool filtered : {false, true}) {
    filtered_ = filtered;
    ASSERT_TRUE(Mount());
    ASSERT_TRUE(Add("first", Pattern(40, 6)));
    ASSERT_TRUE(Add("second", Pattern(10, 7)));
    ASSERT_TRUE(fs_->RemoveFile("FIRST"));
    ASSERT_TRUE(Add("third", Pattern(20, 8)));
    Stop();
    const Bytes sound = BytesOf(Disk("DATA.pak"));
    std::uint32_t seed = 99;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 400; ++round) {
      Bytes file = sound;
      const int damage = 1 + static_cast<int>(next() % 4);
      for (int i = 0; i < damage; ++i) {
        const std::size_t at = next() % file.size();
        if (next() % 3 == 0) {
          file[at] = static_cast<unsigned char>(next() >> 16);
        } else {
          file[at] ^= static_cast<unsigned char>(1u << (next() % 8));
        }
      }
      if (next() % 5 == 0) file.resize(next() % file.size());
      Put(file);
      testing::internal::CaptureStdout();
      const bool loaded = Mount("DATA.pak", false);
      testing::internal::GetCapturedStdout();
      if (!loaded) {
        EXPECT_TRUE(manager_->fileMap().empty());
        continue;
      }
      for (const auto& volume : fs_->archives()) {
        for (const auto& head : volume->heads()) {
          EXPECT_LE(std::uint64_t{head->start} + head->size, file.size());
          EXPECT_GE(head->start, 16u);
        }
        EXPECT_LE(std::uint64_t{volume->tableOffset()} + volume->tableSize(), file.size());
      }
      ExpectListsMatchRebuild();
      Snapshot();  // every registered file can be read
    }
  }
}

}  // namespace
}  // namespace pkfs_test

// verify on sound sets and on every kind of damage: each damaged volume is
// named with its problem and the command exits 1; every sound set exits 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "../pkfs/pack_fixture.h"
#include "pkfstool/commands.h"
#include "pkfstool/set_scan.h"
#include "platform/env.h"
#include "platform/file_system.h"

namespace pkfs_test {
namespace {

// The tool reads sets as the updater writes them: through the id-0 filter.
class VerifyTest : public PackFixture {
 protected:
  VerifyTest() {
    filtered_ = true;
    rules_ = {"txt"};
  }

  struct Outcome {
    int exitStatus;
    std::string out;
  };

  Outcome Verify(const std::string& name = "DATA.pak") {
    Stop();  // the tool takes the volumes' locks itself
    const char* argv[] = {"pkfs", "verify", name.c_str()};
    testing::internal::CaptureStdout();
    const int status = pkfstool::RunTool(3, argv);
    return {status, testing::internal::GetCapturedStdout()};
  }

  // A set of three volumes with a gap, a replaced file and a filtered one.
  void BuildSet() {
    sizeLimit_ = 3000;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Mount());
    ASSERT_TRUE(Add("a.bin", Pattern(900, 1)));
    ASSERT_TRUE(Add("b.txt", Pattern(1200, 2)));
    ASSERT_TRUE(Add("c.bin", Pattern(1500, 3)));
    ASSERT_TRUE(Add("d.txt", Pattern(2000, 4)));
    ASSERT_TRUE(Add("a.bin", Pattern(100, 5)));
    ASSERT_TRUE(fs_->RemoveFile("B.TXT"));
    ASSERT_EQ(fs_->archives().size(), 3u);
    testing::internal::GetCapturedStdout();
    Stop();
  }

  void Put(const std::string& name, const Bytes& file) {
    testing_support::WriteFile(dir_.Join(name), std::string(file.begin(), file.end()));
  }

  // The volume file with its directory decoded, changed by change, and
  // encoded again as it was stored.
  template <typename Change>
  void ChangeDirectory(const std::string& name, Change change) {
    Bytes file = BytesOf(Disk(name));
    const DiskDirectory directory = ReadDirectory(name);
    Bytes header(file.begin(), file.begin() + 16);
    Bytes table = directory.table;
    if (filtered_) pkfs::DecodeBuffer(header.data(), 16);
    change(header, table);
    if (filtered_) {
      pkfs::EncodeBuffer(header.data(), 16);
      pkfs::EncodeBuffer(table.data(), static_cast<std::uint32_t>(table.size()));
    }
    std::copy(header.begin(), header.end(), file.begin());
    const std::size_t end = directory.header.tableOffset + table.size();
    if (file.size() < end) file.resize(end);
    std::copy(table.begin(), table.end(), file.begin() + directory.header.tableOffset);
    Put(name, file);
  }
};

TEST_F(VerifyTest, SoundSetsPass) {
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount());  // a fresh 32-byte volume
  testing::internal::GetCapturedStdout();
  Outcome outcome = Verify();
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.out;
  EXPECT_EQ(outcome.out, "DATA.pak: sound: 1 volume(s), 0 entries\n");

  BuildSet();
  outcome = Verify();
  EXPECT_EQ(outcome.exitStatus, 0) << outcome.out;
  EXPECT_EQ(outcome.out, "DATA.pak: sound: 3 volume(s), 3 entries\n");
}

TEST_F(VerifyTest, EveryDamageIsNamed) {
  BuildSet();
  const std::string sound = Disk("DATA.pak");
  const std::string soundLast = Disk("Data2.pak");
  const DiskDirectory directory = ReadDirectory("DATA.pak");
  const std::size_t records = directory.table.size() - directory.trailer.RecordSize();
  const struct {
    const char* what;
    std::function<void()> damage;
    const char* says;
  } cases[] = {
      {"truncated header", [&] { Put("DATA.pak", BytesOf(sound.substr(0, 9))); }, "truncated"},
      {"truncated directory",
       [&] {
         const std::size_t tableEnd = directory.header.tableOffset + directory.table.size();
         Put("DATA.pak", BytesOf(sound.substr(0, tableEnd - 1)));
       },
       "past the end of the file"},
      {"foreign magic",
       [&] { ChangeDirectory("DATA.pak", [](Bytes& header, Bytes&) { header[1] = 'O'; }); },
       "not a pack volume"},
      {"name past the table",
       [&] {
         ChangeDirectory("DATA.pak",
                         [](Bytes&, Bytes& table) { platform::StoreU32(&table[0], 5000); });
       },
       "reaches past the end of the directory"},
      {"data past the file",
       [&] {
         ChangeDirectory("DATA.pak", [&](Bytes&, Bytes& table) {
           const std::size_t size = 4 + directory.heads[0].name.size() + 4;
           platform::StoreU32(&table[size], 0x00100000);
         });
       },
       "reach past the end of the file"},
      {"overlapping data",
       [&] {
         ChangeDirectory("DATA.pak", [&](Bytes&, Bytes& table) {
           platform::StoreU32(&table[4 + directory.heads[0].name.size()], 8);
         });
       },
       "overlaps the header"},
      {"trailer cycle",
       [&] {
         ChangeDirectory("Data2.pak", [](Bytes& header, Bytes& table) {
           // The last volume's trailer names the first: 8 name bytes more.
           const std::string back = "DATA.pak";
           const std::size_t trailer = table.size() - 16;
           platform::StoreU32(&table[trailer + 4], 8 + 8);
           platform::StoreU32(&table[trailer + 12], 8);
           table.insert(table.end(), back.begin(), back.end());
           platform::StoreU32(&header[8], static_cast<std::uint32_t>(table.size()));
         });
       },
       "leads back into the set"},
      {"missing next volume", [&] { platform::Env::Default()->DeleteFile(dir_.Join("Data2.pak")); },
       "is missing"},
      {"checksum",
       [&] { ChangeDirectory("DATA.pak", [&](Bytes&, Bytes& table) { ++table[records + 8]; }); },
       "does not match its records"},
  };
  for (const auto& c : cases) {
    Put("DATA.pak", BytesOf(sound));
    Put("Data2.pak", BytesOf(soundLast));
    c.damage();
    const Outcome outcome = Verify();
    EXPECT_EQ(outcome.exitStatus, 1) << c.what << "\n" << outcome.out;
    EXPECT_NE(outcome.out.find(c.says), std::string::npos) << c.what << "\n" << outcome.out;
  }

  // Any byte of the first volume's directory changed: always found.
  Put("Data2.pak", BytesOf(soundLast));
  const std::size_t tableEnd = directory.header.tableOffset + directory.table.size();
  for (std::size_t at = directory.header.tableOffset; at < tableEnd; ++at) {
    Bytes file = BytesOf(sound);
    file[at] ^= 0x41;
    Put("DATA.pak", file);
    EXPECT_EQ(Verify().exitStatus, 1) << "flipped byte at " << at;
  }
}

}  // namespace
}  // namespace pkfs_test

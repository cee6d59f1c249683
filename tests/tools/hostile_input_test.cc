// The built pkfs tool (and the updater) on hostile input: stored names that
// would leave an extraction target, links inside the target, trees that hold
// what a set cannot store, a directory that fails its checksum, and a writer
// that has the set open while readers read it. Each asserts the outcome, the
// exit status and the message.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../e2e/update_e2e_support.h"
#include "../pkfs/pack_fixture.h"
#include "lock_holder.h"
#include "platform/byte_order.h"
#include "platform/file_system.h"

namespace pkfs_test {
namespace {

using testing_support::RunResult;
using Tree = std::map<std::string, std::string>;

class HostileInputTest : public PackFixture {
 protected:
  HostileInputTest() { filtered_ = true; }
  void SetUp() override {
    if (testing_support::PkfsBinary().empty()) GTEST_SKIP() << "pkfs is not built here";
  }

  RunResult Pkfs(const std::vector<std::string>& arguments, const std::string& in = "") {
    return testing_support::RunProgram(testing_support::PkfsBinary(), arguments,
                                       in.empty() ? dir_.path() : in);
  }

  // A set holding files, stored through the library as the updater stores.
  void StoreSet(const Tree& files) {
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Mount());
    for (const auto& file : files) ASSERT_TRUE(Add(file.first, BytesOf(file.second)));
    testing::internal::GetCapturedStdout();
    Stop();
  }

  // A one-volume set whose records carry exactly these names (no name rule
  // or normalisation in between), each with 4 bytes of data.
  void WriteRawSet(const std::vector<std::string>& names) {
    std::vector<pkfs::FileHead> heads;
    Bytes data;
    for (const std::string& name : names) {
      heads.push_back(Head(name, static_cast<std::uint32_t>(16 + data.size()), 4));
      const Bytes bytes = BytesOf("d" + std::to_string(heads.size()) + "..");
      data.insert(data.end(), bytes.begin(), bytes.end());
    }
    const std::string path = dir_.Join("DATA.pak");
    WriteVolume(path, heads, data, /*trailer=*/true);
    Bytes file = BytesOf(Disk("DATA.pak"));
    pkfs::EncodeBuffer(file.data(), 16);
    pkfs::EncodeBuffer(file.data() + 16 + data.size(),
                       static_cast<std::uint32_t>(file.size() - 16 - data.size()));
    testing_support::WriteFile(path, std::string(file.begin(), file.end()));
  }

  static Tree Files(const std::string& root) {
    Tree files;
    for (const auto& entry : update_e2e::TreeSnapshot(root)) files.insert(entry);
    return files;
  }
};

// Names a set may hold but no target may take: verify names each one with
// its reason, extract writes none of them and says why, and nothing appears
// outside the target.
TEST_F(HostileInputTest, NamesThatCannotBeExtractedSafelyAreNamedByVerifyAndExtract) {
  const struct {
    std::string name;
    std::string printed;
    const char* reason;
  } unsafe[] = {
      {"../X.BIN", "../X.BIN", "it has a \"..\" level, which would lead outside the target"},
      {"/ABS.BIN", "/ABS.BIN", "it is absolute"},
      {std::string("A\0B.BIN", 7), "A\\x00B.BIN", "it holds a zero byte"},
      {"A//B.BIN", "A//B.BIN", "it has an empty level"},
      {"./C.BIN", "./C.BIN", "it has a \".\" level"},
  };
  std::vector<std::string> names = {"SAFE/D.BIN"};
  for (const auto& row : unsafe) names.push_back(row.name);
  WriteRawSet(names);
  testing_support::MakeDirs(dir_.Join("out/in"));

  RunResult verify = Pkfs({"verify", "DATA.pak"});
  EXPECT_EQ(verify.exitStatus, 1) << verify.out;
  RunResult extract = Pkfs({"extract", "DATA.pak", "-C", "out/in"});
  EXPECT_EQ(extract.exitStatus, 1) << extract.err;
  for (const auto& row : unsafe) {
    EXPECT_NE(verify.out.find("DATA.pak: " + row.printed + ": cannot be extracted safely: " +
                              row.reason + "\n"),
              std::string::npos)
        << row.printed << "\n"
        << verify.out;
    EXPECT_NE(extract.err.find("pkfs: " + row.printed + ": not extracted: " + row.reason + "\n"),
              std::string::npos)
        << row.printed << "\n"
        << extract.err;
  }
  EXPECT_EQ(extract.err.find("would lead outside out"), std::string::npos) << extract.err;
  EXPECT_EQ(Files(dir_.Join("out")), (Tree{{"in", "<dir>"},
                                            {"in/SAFE", "<dir>"},
                                            {"in/SAFE/D.BIN", "d1.."}}));
  // What verify cannot see is said where its checks are.
  const RunResult help = Pkfs({"--help"});
  EXPECT_NE(help.out.find("Entries carry no checksum: changed payload bytes\n"
                          "                         cannot be found"),
            std::string::npos)
      << help.out;
}

// Links and other obstacles inside the target: each file behind one is named
// and left out, nothing is written outside the target, and a hard link in a
// file's place is replaced rather than written through.
TEST_F(HostileInputTest, ExtractNeverFollowsALinkInsideTheTarget) {
  StoreSet({{"SUB/A.BIN", "a"},
            {"SUB/DEEP/B.BIN", "b"},
            {"LINK.BIN", "link"},
            {"FILE/C.BIN", "c"},
            {"DIR.BIN", "dir"},
            {"HARD.BIN", "new hard"},
            {"PLAIN/E.BIN", "e"}});
  const std::string outside = dir_.Join("outside");
  testing_support::WriteFile(outside + "/kept.bin", "outside file");
  testing_support::WriteFile(outside + "/hard.bin", "outside hard");
  const std::string target = dir_.Join("target");
  testing_support::MakeDirs(target + "/DIR.BIN");
  testing_support::WriteFile(target + "/FILE", "a file where a directory would go");
  ASSERT_EQ(::symlink(outside.c_str(), (target + "/SUB").c_str()), 0);
  ASSERT_EQ(::symlink((outside + "/kept.bin").c_str(), (target + "/LINK.BIN").c_str()), 0);
  ASSERT_EQ(::link((outside + "/hard.bin").c_str(), (target + "/HARD.BIN").c_str()), 0);
  const Tree outsideBefore = Files(outside);

  const struct {
    const char* message;
  } refused[] = {
      {"pkfs: target/SUB/A.BIN: not extracted: target/SUB is a symbolic link; not followed\n"},
      {"pkfs: target/SUB/DEEP/B.BIN: not extracted: target/SUB is a symbolic link; not "
       "followed\n"},
      {"pkfs: target/LINK.BIN: is a symbolic link; not followed; not extracted\n"},
      {"pkfs: target/FILE/C.BIN: not extracted: target/FILE exists and is not a directory\n"},
      {"pkfs: target/DIR.BIN: is a directory; not extracted\n"},
  };
  RunResult r = Pkfs({"extract", "DATA.pak", "-C", "target"});
  EXPECT_EQ(r.exitStatus, 1);
  for (const auto& row : refused) {
    EXPECT_NE(r.err.find(row.message), std::string::npos) << row.message << r.err;
  }
  EXPECT_EQ(Files(outside), outsideBefore);
  EXPECT_EQ(testing_support::ReadFile(target + "/HARD.BIN"), "new hard");
  EXPECT_EQ(testing_support::ReadFile(target + "/PLAIN/E.BIN"), "e");

  // Relative to the current directory, paths are named as stored, without "./".
  r = Pkfs({"extract", "../DATA.pak", "FILE/C.BIN"}, target);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "pkfs: FILE/C.BIN: not extracted: FILE exists and is not a directory\n");
}

// add leaves out what a set cannot hold as it is, and what is not a regular
// file, naming each path with the reason; the rest is stored, and nothing is
// recorded for what was left out.
TEST_F(HostileInputTest, AddNamesEveryPathItLeavesOut) {
  const std::string src = dir_.Join("src");
  testing_support::WriteFile(src + "/GOOD.BIN", "good");
  testing_support::WriteFile(src + "/sub/FILE.BIN", "below");
  testing_support::WriteFile(src + "/EMPTY.BIN", "");
  testing_support::WriteFile(src + "/back\\slash.bin", "backslash");
  testing_support::WriteFile(src + "/Index.html", "upper");
  testing_support::WriteFile(src + "/index.html", "lower");
  ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("nowhere", (src + "/dangling").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (src + "/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink("GOOD.BIN", (src + "/filelink").c_str()), 0);
  const struct {
    const char* path;
    const char* reason;
  } skipped[] = {
      {"EMPTY.BIN", "is empty, and the set holds no empty files; not stored"},
      {"back\\slash.bin",
       "its name holds \"\\\", which the set reads as a level separator; not stored"},
      {"Index.html", "its name differs from src/index.html's only in letter case"},
      {"index.html", "its name differs from src/Index.html's only in letter case"},
      {"pipe", "is a pipe, not a regular file; not stored"},
      {"dangling", "is a dangling symbolic link; not stored"},
      {"dirlink", "is a symbolic link to a directory; not followed"},
      {"filelink", "is a symbolic link; not followed"},
  };
  RunResult r = Pkfs({"add", "DATA.pak", "-C", "src", "."});
  EXPECT_EQ(r.exitStatus, 1);
  for (const auto& row : skipped) {
    EXPECT_NE(r.err.find(std::string("pkfs: src/") + row.path + ": " + row.reason),
              std::string::npos)
        << row.path << "\n"
        << r.err;
  }
  r = Pkfs({"ls", "-l", "DATA.pak"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("GOOD.BIN"), std::string::npos);
  EXPECT_NE(r.out.find("SUB/FILE.BIN"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;

  // A single empty file: named, nothing recorded.
  const std::string before = Disk("DATA.pak");
  r = Pkfs({"add", "DATA.pak", "-C", "src", "EMPTY.BIN"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "pkfs: src/EMPTY.BIN: is empty, and the set holds no empty files; not stored\n");
  EXPECT_EQ(Disk("DATA.pak"), before);
}

// A directory that fails its checksum: read with a warning (exit 1), never
// written by pkfs or by the updater, until compact --salvage rebuilds it on
// purpose.
TEST_F(HostileInputTest, ADamagedDirectoryIsReadButNeverWrittenUntilSalvaged) {
  StoreSet({{"SCRIPT/QUEST.TXT", "quest 17"}, {"DATA/ITEMS.BIN", "items"}});
  // Four bytes of a stored name flipped, the checksum left as it was.
  {
    Bytes file = BytesOf(Disk("DATA.pak"));
    DiskDirectory directory = ReadDirectory("DATA.pak");
    Bytes table = directory.table;
    // The first record is DATA/ITEMS.BIN; its name follows the 4-byte length.
    // ITEM becomes item.
    ASSERT_EQ(directory.heads[0].name, "DATA/ITEMS.BIN");
    for (std::size_t i = 4 + 5; i < 4 + 9; ++i) table[i] ^= 0x20;
    pkfs::EncodeBuffer(table.data(), static_cast<std::uint32_t>(table.size()));
    std::copy(table.begin(), table.end(), file.begin() + directory.header.tableOffset);
    testing_support::WriteFile(dir_.Join("DATA.pak"), std::string(file.begin(), file.end()));
  }
  const std::string damaged = Disk("DATA.pak");
  const std::string warning =
      "pkfs: DATA.pak: directory checksum does not match; the volume is read, but the set is "
      "not written\n";
  const std::string refusal =
      "DATA.pak: directory checksum does not match; the set is not written until it is rebuilt "
      "('pkfs compact --salvage')";
  testing_support::WriteFile(dir_.Join("new.bin"), "new");
  const struct {
    std::vector<std::string> arguments;
    const char* says;  // on standard error
  } cases[] = {
      {{"ls", "DATA.pak"}, warning.c_str()},
      {{"cat", "DATA.pak", "SCRIPT/QUEST.TXT"}, warning.c_str()},
      {{"info", "DATA.pak"}, warning.c_str()},
      {{"add", "DATA.pak", "new.bin"}, refusal.c_str()},
      {{"rm", "DATA.pak", "DATA/ITEMS.BIN"}, refusal.c_str()},
      {{"compact", "DATA.pak"}, "the set is damaged, not compacted"},
  };
  for (const auto& c : cases) {
    const RunResult r = Pkfs(c.arguments);
    EXPECT_EQ(r.exitStatus, 1) << c.arguments[0];
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.arguments[0] << "\n" << r.err;
    EXPECT_EQ(r.err.find("marovetin"), std::string::npos) << r.err;
    EXPECT_EQ(Disk("DATA.pak"), damaged) << c.arguments[0];
  }
  EXPECT_EQ(Pkfs({"cat", "DATA.pak", "SCRIPT/QUEST.TXT"}).out, "quest 17");
  EXPECT_EQ(Pkfs({"ls", "DATA.pak"}).out, "DATA/itemS.BIN\nSCRIPT/QUEST.TXT\n");
  EXPECT_EQ(Pkfs({"verify", "DATA.pak"}).exitStatus, 1);

  // The updater keeps its pack files back and says why.
  testing_support::WriteFile(dir_.Join("update/Pak/data/items.bin"), "replaced");
  const RunResult update = update_e2e::RunUpdater(dir_.path(), {"-sw", "update", "-df"});
  EXPECT_EQ(update.exitStatus, 1) << update.err;
  EXPECT_NE(update.err.find("marovetin: " + refusal + "; pack update files are kept back"),
            std::string::npos)
      << update.err;
  EXPECT_EQ(Disk("DATA.pak"), damaged);

  // Rebuilt on purpose: what reads is kept, under the names the directory gives.
  RunResult r = Pkfs({"compact", "--salvage", "DATA.pak"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("salvaged: 2 entries kept, 0 dropped"), std::string::npos) << r.out;
  EXPECT_EQ(Pkfs({"verify", "DATA.pak"}).exitStatus, 0);
  r = Pkfs({"add", "DATA.pak", "new.bin"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
}

// A salvage drops what does not read, and names each entry it drops.
TEST_F(HostileInputTest, SalvageNamesTheEntriesOfAVolumeThatDoesNotLoad) {
  sizeLimit_ = 3000;
  StoreSet({{"A.BIN", std::string(1500, 'a')},
            {"B.BIN", std::string(1500, 'b')},
            {"C.BIN", std::string(1500, 'c')}});
  ASSERT_TRUE(platform::PathExists(dir_.Join("Data1.pak")));
  const DiskDirectory later = ReadDirectory("Data1.pak");
  ASSERT_FALSE(later.heads.empty());
  // The later volume's first entry made to overlap its header: the volume
  // no longer loads, though its directory still parses.
  Bytes file = BytesOf(Disk("Data1.pak"));
  Bytes table = later.table;
  platform::StoreU32(&table[4 + later.heads[0].name.size()], 8);
  pkfs::EncodeBuffer(table.data(), static_cast<std::uint32_t>(table.size()));
  std::copy(table.begin(), table.end(), file.begin() + later.header.tableOffset);
  testing_support::WriteFile(dir_.Join("Data1.pak"), std::string(file.begin(), file.end()));

  const RunResult r = Pkfs({"compact", "--salvage", "DATA.pak"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  for (const pkfs::FileHead& head : later.heads) {
    EXPECT_NE(r.err.find("pkfs: dropped Data1.pak: " + head.name + ": its volume does not load"),
              std::string::npos)
        << head.name << "\n"
        << r.err;
  }
  EXPECT_EQ(Pkfs({"verify", "DATA.pak"}).exitStatus, 0);
}

// Readers never wait for a writer that has the set open; while writers
// commit one version after another, every read shows one committed state.
TEST_F(HostileInputTest, ReadersReadTheLastCommittedStateWithoutWaitingForWriters) {
  StoreSet({{"KEEP.BIN", "kept"}, {"V.BIN", "version A"}});
  {
    testing_support::ForeignLockHolder writer(dir_.Join("DATA.pak"));
    ASSERT_TRUE(writer.held());
    for (const std::vector<std::string>& read :
         {std::vector<std::string>{"ls", "DATA.pak"}, {"cat", "DATA.pak", "V.BIN"},
          {"info", "DATA.pak"}, {"verify", "DATA.pak"}, {"extract", "DATA.pak", "-C", "out"}}) {
      const RunResult r = Pkfs(read);
      EXPECT_EQ(r.exitStatus, 0) << read[0] << "\n" << r.err;
      EXPECT_EQ(r.err, "") << read[0];
    }
    EXPECT_EQ(Pkfs({"cat", "DATA.pak", "V.BIN"}).out, "version A");
  }

  // Each version of V.BIN is one letter repeated, its length fixed by the letter.
  auto version = [](int k) {
    const char letter = static_cast<char>('A' + k % 26);
    return std::string(2000 + 300 * static_cast<std::size_t>(letter - 'A'), letter);
  };
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int k = 0; k < 15; ++k) {
      testing_support::WriteFile(dir_.Join("w/V.BIN"), version(k));
      Pkfs({"add", "DATA.pak", "-C", "w", "V.BIN"});
    }
    done = true;
  });
  int reads = 0;
  while (!done || reads < 3) {
    const RunResult cat = Pkfs({"cat", "DATA.pak", "V.BIN"});
    ASSERT_EQ(cat.exitStatus, 0) << cat.err;
    const std::string& bytes = cat.out;
    if (bytes != "version A") {
      ASSERT_FALSE(bytes.empty());
      EXPECT_EQ(bytes, std::string(bytes.size(), bytes[0]));
      EXPECT_EQ(bytes.size(), 2000 + 300 * static_cast<std::size_t>(bytes[0] - 'A'));
    }
    const RunResult ls = Pkfs({"ls", "DATA.pak"});
    EXPECT_EQ(ls.out, "KEEP.BIN\nV.BIN\n") << ls.err;
    const RunResult verify = Pkfs({"verify", "DATA.pak"});
    EXPECT_EQ(verify.exitStatus, 0) << verify.out;
    ++reads;
  }
  writer.join();
}

}  // namespace
}  // namespace pkfs_test

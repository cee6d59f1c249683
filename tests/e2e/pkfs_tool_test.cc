// The built pkfs tool on sets that the built updater wrote: every command,
// from another directory, on one volume and on three, the round trip of
// add, update and extract, and compact after files were replaced.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;
using Tree = std::map<std::string, std::string>;  // relative name -> content

class PkfsToolTest : public ::testing::Test {
 protected:
  PkfsToolTest() { MakeDirs(install()); }
  void SetUp() override {
    if (testing_support::PkfsBinary().empty()) GTEST_SKIP() << "pkfs is not built here";
  }
  std::string install() const { return root_.Join("install"); }
  std::string set() const { return root_.Join("install/DATA.pak"); }

  // Runs pkfs in the root directory, not in the installation.
  RunResult Pkfs(const std::vector<std::string>& arguments) {
    return testing_support::RunProgram(testing_support::PkfsBinary(), arguments, root_.path());
  }

  // Delivers files below update/Pak and runs the updater with -df.
  void Update(const Tree& pakFiles) {
    for (const auto& file : pakFiles)
      WriteFile(install() + "/update/Pak/" + file.first, file.second);
    const RunResult r = update_e2e::RunUpdater(install(), {"-sw", "update", "-df"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
  }

  // Every file below dir, by its path relative to dir.
  static Tree ReadTree(const std::string& dir, const std::string& prefix = "") {
    Tree tree;
    std::vector<platform::DirectoryEntry> entries;
    platform::Env::Default()->ListDirectory(dir, &entries, nullptr);
    for (const auto& entry : entries) {
      const std::string name = prefix + entry.name;
      if (entry.isDirectory) {
        for (const auto& file : ReadTree(dir + "/" + entry.name, name + "/")) tree.insert(file);
      } else {
        tree[name] = ReadFile(dir + "/" + entry.name);
      }
    }
    return tree;
  }

  TempDir root_;
};

TEST_F(PkfsToolTest, EveryCommandOnASetTheUpdaterWrote) {
  const std::string quest = "quest 17\nreward gold 250\n";
  const std::string items = update_e2e::NoisyBytes(5000, 1);
  const std::string inventory = "<inventory slots=\"40\"/>\n";
  Update({{"script/quest.txt", quest}, {"data/items.bin", items}, {"ui/Inventory.XML", inventory}});
  // A loose file under a stored name's spelling never stands in for it.
  WriteFile(install() + "/LOOSE.TXT", "loose");

  RunResult r = Pkfs({"ls", "install/DATA.pak"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "DATA/ITEMS.BIN\nSCRIPT/QUEST.TXT\nUI/INVENTORY.XML\n");
  EXPECT_EQ(r.err, "");

  r = Pkfs({"ls", "-l", set()});
  EXPECT_NE(r.out.find(std::to_string(quest.size()) + "  0x20000001  0"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("5000  0x00000001  -"), std::string::npos) << r.out;

  EXPECT_EQ(Pkfs({"cat", set(), "Script\\Quest.txt"}).out, quest);
  EXPECT_EQ(Pkfs({"cat", set(), "data/items.bin"}).out, items);
  r = Pkfs({"cat", set(), "loose.txt"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("loose.txt: not stored in " + set()), std::string::npos) << r.err;

  r = Pkfs({"extract", set(), "-C", "out"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadTree(root_.Join("out")), (Tree{{"DATA/ITEMS.BIN", items},
                                               {"SCRIPT/QUEST.TXT", quest},
                                               {"UI/INVENTORY.XML", inventory}}));
  r = Pkfs({"extract", set(), "-C", "one", "ui/inventory.xml", "nothing.bin"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(ReadTree(root_.Join("one")), (Tree{{"UI/INVENTORY.XML", inventory}}));

  r = Pkfs({"info", set()});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("1 volume(s); 0 stale copies"), std::string::npos) << r.out;
  r = Pkfs({"verify", set()});
  EXPECT_EQ(r.exitStatus, 0) << r.out;

  r = Pkfs({"rm", set(), "DATA/ITEMS.BIN", "never.bin"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("never.bin: not stored"), std::string::npos) << r.err;
  EXPECT_EQ(Pkfs({"ls", set()}).out, "SCRIPT/QUEST.TXT\nUI/INVENTORY.XML\n");
}

TEST_F(PkfsToolTest, CommandLinesAndMissingSets) {
  const struct {
    std::vector<std::string> arguments;
    int exitStatus;
    const char* says;  // on standard output for 0, standard error otherwise
  } cases[] = {
      {{}, 64, "no command"},
      {{"frob", "x"}, 64, "unknown command"},
      {{"ls"}, 64, "missing operand"},
      {{"ls", "a", "b"}, 64, "extra operand"},
      {{"cat", "-l", "S", "N"}, 64, "unknown option '-l'"},
      {{"extract", "S", "-C"}, 64, "needs a value"},
      {{"add", "S", "/etc/passwd"}, 64, "give a path below"},
      {{"ls", "--help"}, 0, "Usage: pkfs"},
      {{"--version"}, 0, "pkfs 1."},
      {{"ls", "missing.pak"}, 1, "missing.pak: no such file"},
      {{"verify", "missing.pak"}, 1, "missing.pak: no such file"},
      {{"add", "nodir/DATA.pak", "x"}, 1, "x: no such file"},
  };
  for (const auto& c : cases) {
    const RunResult r = Pkfs(c.arguments);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << c.says;
    EXPECT_NE((c.exitStatus == 0 ? r.out : r.err).find(c.says), std::string::npos)
        << c.says << "\n"
        << r.out << r.err;
  }
  WriteFile(root_.Join("foreign.pak"), "not a pack volume at all");
  const RunResult r = Pkfs({"ls", "foreign.pak"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("foreign.pak: not a pack volume"), std::string::npos) << r.err;
}

// A set of three volumes (written with a small volume limit), then updated
// by the updater: pkfs reads all three from another directory, and compact
// brings them into one.
TEST_F(PkfsToolTest, AThreeVolumeSetIsFoundBesideItsFirstVolumeAndCompacts) {
  Tree expected;
  {
    pkfs::CFSManager manager(install());
    manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    auto owned = std::make_unique<pkfs::CPKFSF>(&manager);
    pkfs::CPKFSF* fs = owned.get();
    fs->SetSizeLimitForTesting(5000);
    fs->AddNameRule("txt", 0);
    testing::internal::CaptureStdout();
    if (!manager.SetFileSystem(set(), std::move(owned))) manager.CreateVolume(set());
    for (int i = 0; i < 6; ++i) {
      const std::string name = "PART" + std::to_string(i) + (i % 2 == 0 ? ".TXT" : ".BIN");
      std::string data = update_e2e::NoisyBytes(1800, static_cast<unsigned>(i + 10));
      expected[name] = data;
      ASSERT_TRUE(fs->AddFile(name, reinterpret_cast<unsigned char*>(&data[0]),
                              static_cast<std::uint32_t>(data.size())));
    }
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(fs->archives().size(), 3u);
  }
  ASSERT_TRUE(FileExists(install() + "/Data2.pak"));
  expected["PART1.BIN"] = "replaced by the updater";
  Update({{"part1.bin", expected["PART1.BIN"]}});

  RunResult r = Pkfs({"info", set()});
  EXPECT_NE(r.out.find("3 volume(s)"), std::string::npos) << r.out;
  r = Pkfs({"extract", set(), "-C", "before"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadTree(root_.Join("before")), expected);
  EXPECT_EQ(Pkfs({"verify", set()}).exitStatus, 0);

  r = Pkfs({"compact", set()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("before: 3 volume(s)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("after:  1 volume(s)"), std::string::npos) << r.out;
  EXPECT_FALSE(FileExists(install() + "/Data1.pak"));
  EXPECT_FALSE(FileExists(install() + "/Data2.pak"));
  EXPECT_FALSE(FileExists(set() + ".compact"));
  r = Pkfs({"extract", set(), "-C", "after"});
  EXPECT_EQ(ReadTree(root_.Join("after")), expected);
  r = Pkfs({"verify", set()});
  EXPECT_EQ(r.exitStatus, 0) << r.out;
}

// pkfs add of a tree, an update that replaces half of it, then extract.
TEST_F(PkfsToolTest, AddUpdateExtractRoundTrip) {
  Tree expected;
  for (int i = 0; i < 10; ++i) {
    const std::string relative =
        "tree/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + (i % 2 ? ".txt" : ".dat");
    const std::string data = update_e2e::NoisyBytes(300 + 97 * i, static_cast<unsigned>(i));
    WriteFile(root_.Join("src/" + relative), data);
    std::string key = relative;
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    expected[key] = data;
  }
  WriteFile(root_.Join("src/tree/.svn/entries"), "skipped like the updater skips it");
  RunResult r = Pkfs({"add", set(), "-C", "src", "tree"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");  // the library's progress lines stay off standard output

  Tree delivered;
  int i = 0;
  for (auto& file : expected) {
    if (i++ % 2 != 0) continue;
    file.second = "new " + file.first;
    delivered[file.first] = file.second;  // upper-case names replace the same files
  }
  Update(delivered);
  r = Pkfs({"extract", set(), "-C", "out"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadTree(root_.Join("out")), expected);
}

TEST_F(PkfsToolTest, CompactAfterEveryFileWasReplacedTwiceLeavesPayloadPlusDirectory) {
  Tree last;
  for (int round = 0; round < 3; ++round) {
    Tree delivered;
    for (int i = 0; i < 8; ++i) {
      delivered["f" + std::to_string(i) + (i % 2 ? ".txt" : ".bin")] =
          update_e2e::NoisyBytes(200 + 150 * round + 31 * i, static_cast<unsigned>(round * 8 + i));
    }
    Update(delivered);
    last = delivered;
  }
  std::uint64_t payload = 0;
  std::uint64_t directory = 16;  // the trailer of a last volume
  for (const auto& file : last) {
    payload += file.second.size();
    directory += 20 + file.first.size();
  }
  const std::uint64_t grown = ReadFile(set()).size();
  ASSERT_GT(grown, 16 + payload + directory);

  RunResult r = Pkfs({"compact", set()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("before: 1 volume(s), " + std::to_string(grown) + " bytes"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(ReadFile(set()).size(), 16 + payload + directory);
  EXPECT_EQ(Pkfs({"verify", set()}).exitStatus, 0);
  for (const auto& file : last) {
    std::string key = file.first;
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Pkfs({"cat", set(), key}).out, file.second) << key;
  }
}

TEST_F(PkfsToolTest, CompactRefusesWhileAnotherProcessHoldsTheSet) {
  Update({{"a.bin", "a"}});
  const std::string before = ReadFile(set());
  pkfs::CFSManager manager(install());
  manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  testing::internal::CaptureStdout();
  ASSERT_TRUE(manager.SetFileSystem(set(), std::make_unique<pkfs::CPKFSF>(&manager)));
  testing::internal::GetCapturedStdout();
  const RunResult r = Pkfs({"compact", set()});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("another process has the set open"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(set()), before);
  EXPECT_FALSE(FileExists(set() + ".compact"));
}

}  // namespace

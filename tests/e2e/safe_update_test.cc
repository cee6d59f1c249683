// Runs that used to lose delivered files, damage the installation or report
// success for work not done, each with its sound outcome: the exit status,
// the message, the files applied byte-exact, or nothing on disk changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"
#include "update_e2e_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;
using update_e2e::Bzip2;
using update_e2e::PackReader;
using update_e2e::RunUpdater;

using update_e2e::TreeSnapshot;

class SafeUpdateTest : public update_e2e::InstallationTest {};

TEST_F(SafeUpdateTest, EmptyPackFileIsKeptBackNamedAndNotDeleted) {
  WriteFile(Delivered("Pak/empty.bin"), "");
  WriteFile(Delivered("Pak/full.bin"), "bytes");
  RunResult r = Run({"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(Says(r, "kept back " + update() + "/Pak/empty.bin: it is empty")) << r.err;
  EXPECT_TRUE(FileExists(Delivered("Pak/empty.bin")));
  EXPECT_FALSE(FileExists(Delivered("Pak/full.bin")));
  EXPECT_FALSE(FileExists(In("Pak")));  // not written as a loose file either
  PackReader pack(install());
  EXPECT_EQ(pack.Read("FULL.BIN"), "bytes");
  EXPECT_EQ(pack.FileCount(), 1u);
}

TEST_F(SafeUpdateTest, ConcatenatedBzip2StreamsAreAllDecoded) {
  const std::string first = update_e2e::NoisyBytes(70000, 1);
  const std::string second = "second stream\n";
  WriteFile(Delivered("data.bin"), Bzip2(first) + Bzip2(second));
  WriteFile(Delivered("Pak/three.bin"), Bzip2("a") + Bzip2("") + Bzip2("bc"));
  // Bytes after the last stream that are not a stream: undecodable, kept.
  WriteFile(Delivered("tail.bin"), Bzip2("ok") + "garbage");
  RunResult r = Run({"-dc", "-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_EQ(ReadFile(In("data.bin")), first + second);
  EXPECT_FALSE(FileExists(Delivered("data.bin")));
  EXPECT_TRUE(Says(r, "kept back " + update() + "/tail.bin: data after the bzip2 stream")) << r.err;
  EXPECT_FALSE(FileExists(In("tail.bin")));
  EXPECT_EQ(ReadFile(Delivered("tail.bin")), Bzip2("ok") + "garbage");
  PackReader pack(install());
  EXPECT_EQ(pack.Read("THREE.BIN"), "abc");
}

TEST_F(SafeUpdateTest, NamesDifferingOnlyInCaseLastWinsEarlierKeptAndNamed) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows directory cannot hold two names that differ only in case";
#endif
  WriteFile(Delivered("A.txt"), "upper loose");
  WriteFile(Delivered("a.txt"), "lower loose");
  WriteFile(Delivered("Pak/B.dat"), "upper pack");
  WriteFile(Delivered("Pak/b.dat"), "lower pack");
  RunResult r = Run({"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1);
  // The listing puts "A" before "a": the later one wins, as on a
  // case-insensitive system, and the earlier source stays, named.
  EXPECT_TRUE(Says(r, "kept back " + update() + "/A.txt: overwritten by " + update() + "/a.txt"))
      << r.err;
  EXPECT_TRUE(
      Says(r, "kept back " + update() + "/Pak/B.dat: overwritten by " + update() + "/Pak/b.dat"))
      << r.err;
  EXPECT_EQ(ReadFile(In("A.txt")), "lower loose");
  EXPECT_FALSE(FileExists(In("a.txt")));  // one file, under the first name
  // The earlier sources wait where no search looks.
  EXPECT_EQ(ReadFile(Delivered(".kept-back/A.txt")), "upper loose");
  EXPECT_FALSE(FileExists(Delivered("a.txt")));
  EXPECT_EQ(ReadFile(Delivered(".kept-back/Pak/B.dat")), "upper pack");
  EXPECT_FALSE(FileExists(Delivered("Pak/b.dat")));
  PackReader pack(install());
  EXPECT_EQ(pack.Read("B.DAT"), "lower pack");
}

TEST_F(SafeUpdateTest, RunsThatWouldDamageTheInstallationAreRefusedUntouched) {
  struct Row {
    std::vector<std::string> arguments;
    std::string message;
  };
  std::vector<Row> rows = {
      {{"-de", "-df"}, "-de without -sw would invert every file of the installation"},
      {{"-dc", "-de"}, "-dc -de without -sw would decompress and invert every file"},
      // A typo: "-sw=update" is no option, so no work path is given.
      {{"-de", "-sw=update", "-df"}, "ignoring unknown argument -sw=update\n"},
      {{"-de", "-sw=update", "-df"}, "-de without -sw"},
      {{"-de", "-sw", "."}, "is the installation"},
      {{"-sw", "..", "-df"}, "contains the installation"},
      {{"-sw", "../..", "-df", "-log", "run.log"}, "contains the installation"},
      // Work paths outside the installation, absolute or relative.
      {{"-sw", root_.Join("outside"), "-df"}, "lies outside the installation"},
      {{"-sw", "../outside", "-df"}, "lies outside the installation"},
      // Values that are no update index.
      {{"-sv", "abc"}, "-sv abc: not a decimal number from 0 to 4294967295; nothing was written"},
      {{"-sv", "-1"}, "-sv -1: not a decimal number"},
      {{"-sv", "99999999999"}, "-sv 99999999999: not a decimal number"},
      {{"-sv", "4294967296"}, "-sv 4294967296: not a decimal number"},
      {{"-sv", "+5"}, "-sv +5: not a decimal number"},
      // A log that would write into a pack volume of either set.
      {{"-sw", "update", "-log", "DATA.pak"}, "-log DATA.pak is a pack volume of the installation"},
      {{"-sw", "update", "-log", "data.PAK"}, "-log data.PAK is a pack volume"},
      {{"-sw", "update", "-sp", "Other.pak", "-log", "DATA.pak"}, "-log DATA.pak is a pack volume"},
      {{"-sw", "update", "-log", "Data2.pak"}, "-log Data2.pak is a pack volume"},
      {{"-sv", "5", "-log", "DATA.pak"}, "-log DATA.pak is a pack volume"},
      // A pack volume inside the work path would be applied (and deleted).
      {{"-sw", "update", "-sp", "update/Other.pak", "-df"},
       "-sp update/Other.pak: the pack volume lies inside the work path"},
      {{"-sw", "update", "-sp", "update/Pak/x.pak"},
       "-sp update/Pak/x.pak: the pack volume lies inside the work path"},
  };
  WriteFile(In("DATA.pak"), "not touched");
  WriteFile(In("Data2.pak"), "stands for a chained volume");
  WriteFile(In("UpdateSetting/UpdateIndex.dat"), std::string("\x07\x00\x00\x00", 4));
  WriteFile(In("readme.txt"), "installed");
  WriteFile(In("maps/town.map"), "map");
  WriteFile(Delivered("new.txt"), "new");
  WriteFile(Delivered("Other.pak"), "delivered");
  WriteFile(Delivered("Pak/a.bin"), "pack file");
  WriteFile(root_.Join("outside/Pak/b.bin"), "outside pack file");
#ifndef _WIN32
  // Also through a link that leads out of the installation.
  fs::create_directory_symlink("../outside", In("linked"));
  rows.push_back({{"-sw", "linked", "-df"}, "lies outside the installation"});
  // An empty argument (which a Windows command line cannot carry).
  rows.push_back({{"-sv", ""}, "-sv : not a decimal number"});
#endif
  const auto before = TreeSnapshot(root_.path());
  for (const Row& row : rows) {
    RunResult r = Run(row.arguments);
    EXPECT_EQ(r.exitStatus, 64) << row.message << ": " << r.err;
    EXPECT_TRUE(Says(r, row.message)) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(TreeSnapshot(root_.path()), before) << row.message;
  }
}

TEST_F(SafeUpdateTest, MissingWorkPathIsSaid) {
  RunResult r = Run({"-sw", "missing-dir", "-df"});
  EXPECT_EQ(r.exitStatus, 0);
  const std::string here = fs::canonical(install()).generic_string();
  EXPECT_TRUE(Says(r, "nothing to apply: " + here + "/missing-dir does not exist\n")) << r.err;
}

TEST_F(SafeUpdateTest, FullDiskWhileReplacingALooseFileKeepsTheOldFileWhole) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a POSIX shell and its file-size limit";
#endif
  // A file-size limit makes the write fail part-way (EFBIG), as a full disk
  // would, without ending the process.
  const std::string old = update_e2e::NoisyBytes(100000, 5);
  const std::string big = update_e2e::NoisyBytes(900000, 6);
  WriteFile(In("big.dat"), old);
  WriteFile(Delivered("big.dat"), big);
  // A delivered file with a second name is copied rather than moved into
  // place, so the write meets the limit.
  fs::create_hard_link(Delivered("big.dat"), root_.Join("second-name"));
  const std::string command = "trap '' XFSZ; ulimit -f 512; exec \"$0\" -sw update -df";
  RunResult r =
      testing_support::RunProgram("/bin/sh", {"-c", command, testing_support::MarovetinBinary()},
                                  install(), {"MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName()});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(Says(r, "kept back " + update() + "/big.dat: could not be written to ")) << r.err;
  EXPECT_TRUE(Says(r, "File too large")) << r.err;
  EXPECT_EQ(ReadFile(In("big.dat")), old);
  EXPECT_EQ(ReadFile(Delivered("big.dat")), big);
  for (const auto& entry : fs::directory_iterator(install())) {
    EXPECT_EQ(entry.path().string().find("marovetin-new"), std::string::npos) << entry.path();
  }
}

TEST_F(SafeUpdateTest, FilesTheSearchCannotReachAreNamedAsNotApplied) {
  WriteFile(Delivered(".hidden/secret.txt"), "hidden");
#ifndef _WIN32  // on Windows "\\" separates the directory "odd" from "name.txt"
  WriteFile(Delivered("odd\\name.txt"), "backslash");
#endif
  WriteFile(Delivered("fine.txt"), "fine");
  RunResult r = Run({"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_TRUE(Says(r, "not applied " + update() + "/.hidden/secret.txt: it lies in the directory"))
      << r.err;
#ifndef _WIN32
  EXPECT_TRUE(Says(r, "not applied " + update() + "/odd\\name.txt: the name")) << r.err;
  EXPECT_EQ(ReadFile(Delivered("odd\\name.txt")), "backslash");
#endif
  EXPECT_EQ(ReadFile(In("fine.txt")), "fine");
  EXPECT_EQ(ReadFile(Delivered(".hidden/secret.txt")), "hidden");
}

TEST_F(SafeUpdateTest, LooseFileInANewOneLevelDirectoryIsWritten) {
  WriteFile(Delivered("solo/one.bin"), "one level");
  RunResult r = Run({"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(In("solo/one.bin")), "one level");
  EXPECT_FALSE(FileExists(update()));
}

}  // namespace

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
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;
using update_e2e::Bzip2;
using update_e2e::PackReader;
using update_e2e::RunUpdater;

using update_e2e::TreeSnapshot;

class SafeUpdateTest : public ::testing::Test {
 protected:
  SafeUpdateTest() { MakeDirs(install()); }
  std::string install() const { return root_.Join("install"); }
  std::string update() const { return install() + "/update"; }
  std::string In(const std::string& relative) const { return install() + "/" + relative; }
  std::string Delivered(const std::string& relative) const { return update() + "/" + relative; }
  RunResult Run(const std::vector<std::string>& arguments) {
    return RunUpdater(install(), arguments);
  }
  static bool Says(const RunResult& r, const std::string& text) {
    return r.err.find(text) != std::string::npos;
  }

  TempDir root_;
};

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
  EXPECT_TRUE(Says(r, "kept back " + update() + "/tail.bin: cannot be read")) << r.err;
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
  const std::vector<Row> rows = {
      {{"-de", "-df"}, "-de without -sw would invert every file of the installation"},
      {{"-dc", "-de"}, "-dc -de without -sw would decompress and invert every file"},
      // A typo: "-sw=update" is no option, so no work path is given.
      {{"-de", "-sw=update", "-df"}, "ignoring unknown argument -sw=update\n"},
      {{"-de", "-sw=update", "-df"}, "-de without -sw"},
      {{"-de", "-sw", "."}, "is the installation"},
      {{"-sw", "..", "-df"}, "contains the installation"},
      {{"-sw", "../..", "-df", "-log", "run.log"}, "contains the installation"},
  };
  WriteFile(In("DATA.pak"), "not touched");
  WriteFile(In("readme.txt"), "installed");
  WriteFile(In("maps/town.map"), "map");
  WriteFile(Delivered("new.txt"), "new");
  const auto before = TreeSnapshot(root_.path());
  for (const Row& row : rows) {
    RunResult r = Run(row.arguments);
    EXPECT_EQ(r.exitStatus, 64) << row.arguments[0] << " " << r.err;
    EXPECT_TRUE(Says(r, row.message)) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(TreeSnapshot(root_.path()), before) << row.arguments[0] << " " << row.arguments[1];
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

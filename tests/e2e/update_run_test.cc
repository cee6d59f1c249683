// The update run of the built updater, in temporary installations: loose
// files, pack files, payload decoding, "-df", the run log and repeated runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pkfs/file_head.h"
#include "pkfs/fs_filter.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;
using update_e2e::Bzip2;
using update_e2e::Invert;
using update_e2e::PackReader;
using update_e2e::RunUpdater;

class UpdateRunTest : public ::testing::Test {
 protected:
  UpdateRunTest() { MakeDirs(install()); }
  std::string install() const { return root_.Join("install"); }
  std::string update() const { return root_.Join("install/update"); }
  std::string In(const std::string& relative) const { return install() + "/" + relative; }
  std::string Delivered(const std::string& relative) const { return update() + "/" + relative; }

  RunResult Run(const std::vector<std::string>& arguments) {
    return RunUpdater(install(), arguments);
  }

  TempDir root_;
};

TEST_F(UpdateRunTest, LooseFilesAreWrittenUnderTheirRelativeNames) {
  WriteFile(In("readme.txt"), "old readme, longer than the new one");
  WriteFile(Delivered("readme.txt"), "new readme");
  WriteFile(Delivered("maps/town/a.map"), "two levels");
  MakeDirs(In("config"));
  WriteFile(Delivered("config/options.ini"), "one level, directory present");
  RunResult r = Run({"-sw", "update"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(In("readme.txt")), "new readme");
  EXPECT_EQ(ReadFile(In("maps/town/a.map")), "two levels");
  EXPECT_EQ(ReadFile(In("config/options.ini")), "one level, directory present");
  // Without "-df" the delivered files stay.
  EXPECT_EQ(ReadFile(Delivered("readme.txt")), "new readme");
  EXPECT_NE(r.out.find("WM_UPDATENORMALDATA\n"), std::string::npos);
}

TEST_F(UpdateRunTest, PackFileIsStoredUnderItsUpperCaseNameEncodedAndReadsBack) {
  const std::string text = "quest 17 \"The Miller's Key\"\nreward gold 250\n";
  const std::string binary = update_e2e::NoisyBytes(5000, 3);
  WriteFile(Delivered("Pak/sub/a.txt"), text);
  WriteFile(Delivered("Pak/b.bin"), binary);
  RunResult r = Run({"-sw", "update", "-df"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");

  PackReader pack(install());
  ASSERT_TRUE(pack.loaded());
  EXPECT_EQ(pack.FileCount(), 2u);
  auto heads = pack.Heads("SUB/A.TXT");
  ASSERT_EQ(heads.size(), 1u);
  EXPECT_EQ(heads[0]->flags & 0x20000000u, 0x20000000u);  // stored through the filter
  EXPECT_EQ(heads[0]->size, text.size());
  // Stored scrambled by the filter, served back as delivered.
  std::string encoded = text;
  pkfs::EncodeBuffer(reinterpret_cast<unsigned char*>(&encoded[0]),
                     static_cast<std::uint32_t>(encoded.size()));
  EXPECT_NE(encoded, text);
  EXPECT_EQ(pack.Raw(*heads[0]), encoded);
  EXPECT_EQ(pack.Read("SUB/A.TXT"), text);
  EXPECT_EQ(pack.Read("sub\\a.txt"), text);

  auto binaryHeads = pack.Heads("B.BIN");
  ASSERT_EQ(binaryHeads.size(), 1u);
  EXPECT_EQ(binaryHeads[0]->flags & 0x20000000u, 0u);
  EXPECT_EQ(pack.Raw(*binaryHeads[0]), binary);

  // Nothing of the pack update ended up as loose files.
  EXPECT_FALSE(FileExists(In("Pak")));
  EXPECT_FALSE(FileExists(In("sub")));
}

TEST_F(UpdateRunTest, CompressedAndInvertedPayloadsAreRestored) {
  struct Mode {
    std::vector<std::string> options;
    std::string (*encode)(const std::string&);
  };
  const std::vector<Mode> modes = {
      {{"-dc", "-de"}, [](const std::string& s) { return Bzip2(Invert(s)); }},
      {{"-dc"}, [](const std::string& s) { return Bzip2(s); }},
      {{"-de"}, [](const std::string& s) { return Invert(s); }},
  };
  const std::string loose = "loose payload\n" + update_e2e::NoisyBytes(3000, 1);
  const std::string packed = "<xml>pack payload</xml>" + update_e2e::NoisyBytes(3000, 2);
  for (const Mode& mode : modes) {
    TempDir root;
    const std::string dir = root.Join("install");
    WriteFile(dir + "/update/data.bin", mode.encode(loose));
    WriteFile(dir + "/update/Pak/ui/layout.xml", mode.encode(packed));
    std::vector<std::string> args = mode.options;
    args.insert(args.end(), {"-sw", "update", "-df"});
    RunResult r = RunUpdater(dir, args);
    ASSERT_EQ(r.exitStatus, 0) << mode.options[0] << r.err;
    EXPECT_EQ(ReadFile(dir + "/data.bin"), loose) << mode.options.size();
    PackReader pack(dir);
    EXPECT_EQ(pack.Read("UI/LAYOUT.XML"), packed) << mode.options.size();
    EXPECT_FALSE(FileExists(dir + "/update"));
  }
}

TEST_F(UpdateRunTest, PayloadThatCannotBeDecodedIsKeptAndNamed) {
  WriteFile(Delivered("good.txt"), Bzip2("fine"));
  WriteFile(Delivered("bad.txt"), "not bzip2 at all");
  WriteFile(Delivered("Pak/bad.dat"), "not bzip2 either");
  RunResult r = Run({"-dc", "-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(ReadFile(In("good.txt")), "fine");
  EXPECT_FALSE(FileExists(In("bad.txt")));
  EXPECT_EQ(ReadFile(Delivered("bad.txt")), "not bzip2 at all");
  EXPECT_EQ(ReadFile(Delivered("Pak/bad.dat")), "not bzip2 either");
  EXPECT_NE(r.err.find(update() + "/bad.txt"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(update() + "/Pak/bad.dat"), std::string::npos) << r.err;
  PackReader pack(install());
  EXPECT_EQ(pack.FileCount(), 0u);
}

TEST_F(UpdateRunTest, DeleteSourcesRemovesAppliedFilesAndTheEmptiedTree) {
  WriteFile(Delivered("Pak/a/b/c.txt"), "deep");
  WriteFile(Delivered("Pak/top.dat"), "top");
  WriteFile(Delivered("x/y/z.txt"), "loose");
  RunResult r = Run({"-sw", "update", "-df"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_FALSE(FileExists(update()));
  EXPECT_EQ(ReadFile(In("x/y/z.txt")), "loose");
  PackReader pack(install());
  EXPECT_EQ(pack.Read("A/B/C.TXT"), "deep");
  EXPECT_EQ(pack.Read("TOP.DAT"), "top");
}

TEST_F(UpdateRunTest, DeleteSourcesMovesSoleNamesCopiesSharedOnesAndFinishesCutShortMoves) {
#ifdef _WIN32
  GTEST_SKIP() << "files are always copied on Windows";
#else
  namespace fs = std::filesystem;
  WriteFile(Delivered("moved.dat"), "moved");
  // A delivered file with a second name: moving it would tie the
  // installation's file to that name.
  WriteFile(Delivered("shared.dat"), "shared");
  fs::create_hard_link(Delivered("shared.dat"), root_.Join("second-name"));
  // A run cut short after it moved this file into place, before it deleted
  // the source: both names lead to one file.
  WriteFile(Delivered("half/done.dat"), "done");
  MakeDirs(In("half"));
  fs::create_hard_link(Delivered("half/done.dat"), In("half/done.dat"));
  RunResult r = Run({"-sw", "update", "-df"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_FALSE(FileExists(update()));
  for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"moved.dat", "moved"},
                                    {"shared.dat", "shared"},
                                    {"half/done.dat", "done"}}) {
    EXPECT_EQ(ReadFile(In(name)), bytes) << name;
    EXPECT_EQ(fs::hard_link_count(In(name)), 1u) << name;
  }
  EXPECT_EQ(ReadFile(root_.Join("second-name")), "shared");
  EXPECT_EQ(fs::hard_link_count(root_.Join("second-name")), 1u);
#endif
}

TEST_F(UpdateRunTest, DeleteSourcesKeepsFilesThatCouldNotBeStoredOrWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a POSIX shell and its file-size limit";
#else
  // A file-size limit makes every write past it fail (EFBIG) without ending
  // the process: the large files cannot be put in place, the small ones can.
  const std::string big = update_e2e::NoisyBytes(1 << 20, 9);
  WriteFile(Delivered("Pak/big.bin"), big);
  WriteFile(Delivered("Pak/small.txt"), "small pack file");
  WriteFile(Delivered("big.dat"), big);
  WriteFile(Delivered("small.dat"), "small loose file");
  // A delivered file with a second name is copied rather than moved into
  // place, so its write meets the limit.
  std::filesystem::create_hard_link(Delivered("big.dat"), root_.Join("second-name"));
  const std::string command = "trap '' XFSZ; ulimit -f 256; exec \"$0\" -sw update -df";
  RunResult r =
      testing_support::RunProgram("/bin/sh", {"-c", command, testing_support::MarovetinBinary()},
                                  install(), {"MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName()});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_EQ(ReadFile(Delivered("Pak/big.bin")), big);
  EXPECT_EQ(ReadFile(Delivered("big.dat")), big);
  EXPECT_FALSE(FileExists(Delivered("Pak/small.txt")));
  EXPECT_FALSE(FileExists(Delivered("small.dat")));
  EXPECT_NE(r.err.find(update() + "/Pak/big.bin"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(update() + "/big.dat"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(In("small.dat")), "small loose file");
  PackReader pack(install());
  EXPECT_EQ(pack.Read("SMALL.TXT"), "small pack file");
  EXPECT_TRUE(pack.Heads("BIG.BIN").empty());
#endif
}

TEST_F(UpdateRunTest, LogHoldsSizeLinesEachFollowedByAnEmptyLine) {
  WriteFile(Delivered("Pak/p.txt"), "12345");
  WriteFile(Delivered("l.txt"), "123");
  RunResult r = Run({"-sw", "update", "-df", "-log", "update.log"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string log = ReadFile(In("update.log"));
  EXPECT_NE(log.find("\t" + update() + "/Pak\\p.txt size=5\n\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\tl.txt size=3\n\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\tRemove Dir = " + update() + "/Pak\\p.txt \n\n"), std::string::npos);
  EXPECT_NE(log.find("\tRemove Dir = " + update() + "\\l.txt \n\n"), std::string::npos);
  // The pack file's line comes before the loose file's.
  EXPECT_LT(log.find("p.txt size=5"), log.find("l.txt size=3"));
}

TEST_F(UpdateRunTest, SecondRunReplacesStoredFilesInsteadOfAddingCopies) {
  WriteFile(Delivered("Pak/sub/a.txt"), "first version of the file");
  WriteFile(Delivered("Pak/keep.dat"), "untouched");
  ASSERT_EQ(Run({"-sw", "update", "-df"}).exitStatus, 0);
  WriteFile(Delivered("Pak/SUB/A.TXT"), "second");
  RunResult r = Run({"-sw", "update", "-df"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  PackReader pack(install());
  EXPECT_EQ(pack.Heads("SUB/A.TXT").size(), 1u);
  EXPECT_EQ(pack.FileCount(), 2u);
  EXPECT_EQ(pack.Read("SUB/A.TXT"), "second");
  EXPECT_EQ(pack.Read("KEEP.DAT"), "untouched");
}

TEST_F(UpdateRunTest, WithoutAWorkPathDeleteSourcesKeepsTheInstallationsOwnFiles) {
  // The work path is the installation: each loose file is its own
  // destination and must survive "-df"; the pack update still goes.
  WriteFile(In("readme.txt"), "installed");
  WriteFile(In("maps/town/a.map"), "map");
  WriteFile(In("Pak/sub/a.txt"), "pack");
  RunResult r = Run({"-df"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(In("readme.txt")), "installed");
  EXPECT_EQ(ReadFile(In("maps/town/a.map")), "map");
  EXPECT_FALSE(FileExists(In("Pak")));
  PackReader pack(install());
  EXPECT_EQ(pack.Read("SUB/A.TXT"), "pack");
}

TEST_F(UpdateRunTest, QuietLeavesOutTheDebugLinesOnly) {
  WriteFile(Delivered("a.txt"), "A");
  WriteFile(Delivered("Pak/p.dat"), "P");
  for (const char* quiet : {"-q", "--quiet"}) {
    RunResult r = Run({quiet, "-sw", "update"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(In("a.txt")), "A");
  }
  PackReader pack(install());
  EXPECT_EQ(pack.Read("P.DAT"), "P");
}

TEST_F(UpdateRunTest, ProgressBarNeverReachesStandardOutput) {
  WriteFile(Delivered("a.txt"), "A");
  RunResult r = Run({"-sw", "update"});
  ASSERT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out.find('%'), std::string::npos);
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
  EXPECT_EQ(r.err, "");  // not a terminal: nothing drawn
}

}  // namespace

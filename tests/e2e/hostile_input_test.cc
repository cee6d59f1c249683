// Odd and hostile input through the real updater: links out of the work
// path, delivered files named like pack volumes, bad utility values, case
// twins run twice, absolute and outside work paths, every spelling of "Pak",
// permissions, and log and pack paths that would damage the installation.
// Each case asserts the exit status and the message, and compares the whole
// tree (installation, update and what lies beside them) with what it was, so
// that nothing outside the expected change moved.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
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
using testing_support::WriteFile;
using update_e2e::PackReader;
using update_e2e::TreeSnapshot;
using Tree = std::map<std::string, std::string>;

constexpr char kGone[] = "<gone>";

class HostileInputTest : public update_e2e::InstallationTest {
 public:  // the table rows lay out their links through these
  HostileInputTest() {
    WriteFile(In("readme.txt"), "installed readme");
    WriteFile(In("maps/town.map"), "installed map");
    WriteFile(Outside("keep.txt"), "outside, never touched");
    WriteFile(Outside("sub/deep.txt"), "outside, deeper");
  }
  std::string Outside(const std::string& relative) const {
    return root_.Join("outside/" + relative);
  }
  Tree Snapshot() const { return TreeSnapshot(root_.path()); }
  // before with the changes applied: kGone removes a path.
  static Tree Changed(Tree before, const Tree& changes) {
    for (const auto& [path, content] : changes) {
      if (content == kGone) {
        before.erase(path);
      } else {
        before[path] = content;
      }
    }
    return before;
  }
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
      ++count;
    }
    return count;
  }
};

// ---- A link is never followed out of the work path ----

TEST_F(HostileInputTest, LinksBelowTheWorkPathAreKeptBackAndNothingBehindThemMoves) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
  struct Row {
    const char* name;
    std::function<void(HostileInputTest&)> lay;
    std::vector<std::string> arguments;
    std::string keptBack;  // below the update
    bool pakIsTheLink;     // no pack file can be delivered beside it
  };
  const std::vector<Row> rows = {
      {"Pak leads to the installation",
       [](HostileInputTest& t) { fs::create_directory_symlink("..", t.Delivered("Pak")); },
       {"-sw", "update", "-df"},
       "Pak",
       true},
      {"Pak leads outside",
       [](HostileInputTest& t) { fs::create_directory_symlink(t.Outside(""), t.Delivered("Pak")); },
       {"-sw", "update", "-df"},
       "Pak",
       true},
      {"pak in another case leads outside",
       [](HostileInputTest& t) { fs::create_directory_symlink(t.Outside(""), t.Delivered("pAK")); },
       {"-sw", "update"},
       "pAK",
       false},
      {"a directory below Pak leads outside",
       [](HostileInputTest& t) {
         fs::create_directory_symlink(t.Outside("sub"), t.Delivered("Pak/linked"));
       },
       {"-sw", "update", "-df"},
       "Pak/linked",
       false},
      {"a loose directory leads outside",
       [](HostileInputTest& t) {
         fs::create_directory_symlink(t.Outside(""), t.Delivered("maps"));
       },
       {"-sw", "update", "-df"},
       "maps",
       false},
      {"a loose directory leads into the installation, without -df",
       [](HostileInputTest& t) { fs::create_directory_symlink("../maps", t.Delivered("more")); },
       {"-sw", "update"},
       "more",
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(install());
    WriteFile(In("readme.txt"), "installed readme");
    WriteFile(In("maps/town.map"), "installed map");
    if (!row.pakIsTheLink) WriteFile(Delivered("Pak/stored.bin"), "stored");
    WriteFile(Delivered("new.txt"), "new loose");
    row.lay(*this);
    const Tree before = Snapshot();
    RunResult r = Run(row.arguments);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_TRUE(Says(r, "kept back " + Delivered(row.keptBack) +
                            ": is a symbolic link; nothing behind it is read or deleted\n"))
        << r.err;
    const bool deletes = row.arguments.back() == "-df";
    const Tree after = Snapshot();
    Tree expected = Changed(before, {{"install/new.txt", "new loose"},
                                     {"install/DATA.pak", after.at("install/DATA.pak")}});
    if (deletes) {
      expected = Changed(expected, {{"install/update/new.txt", kGone}});
      if (!row.pakIsTheLink) expected.erase("install/update/Pak/stored.bin");
      // Pak goes once emptied, unless a link stays in it.
      if (row.keptBack.rfind("Pak/", 0) != 0) expected.erase("install/update/Pak");
    } else if (!row.pakIsTheLink) {
      expected =
          Changed(expected, {{"install/Pak", "<dir>"}, {"install/Pak/stored.bin", "stored"}});
    }
    // Every link stays as it was, and nothing behind one was read or moved.
    EXPECT_EQ(after, expected);
    PackReader pack(install());
    EXPECT_EQ(pack.FileCount(), row.pakIsTheLink ? 0u : 1u);
    if (!row.pakIsTheLink) {
      EXPECT_EQ(pack.Read("STORED.BIN"), "stored");
    }
  }
#endif
}

TEST_F(HostileInputTest, AnAbsoluteWorkPathInsideTheInstallationWorksAsItsRelativeForm) {
  WriteFile(Delivered("Pak/sub/a.bin"), "packed");
  WriteFile(Delivered("docs/b.txt"), "loose");
  const Tree before = Snapshot();
  RunResult r = Run({"-sw", fs::canonical(install()).string() + "/update", "-df"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find("//"), std::string::npos) << r.out;
  const Tree after = Snapshot();
  EXPECT_EQ(after, Changed(before, {{"install/update", kGone},
                                    {"install/update/Pak", kGone},
                                    {"install/update/Pak/sub", kGone},
                                    {"install/update/Pak/sub/a.bin", kGone},
                                    {"install/update/docs", kGone},
                                    {"install/update/docs/b.txt", kGone},
                                    {"install/docs", "<dir>"},
                                    {"install/docs/b.txt", "loose"},
                                    {"install/DATA.pak", after.at("install/DATA.pak")}}));
  PackReader pack(install());
  EXPECT_EQ(pack.Read("SUB/A.BIN"), "packed");
}

TEST_F(HostileInputTest, AMissingWorkPathCreatesNothing) {
  const Tree before = Snapshot();
  RunResult r = Run({"-sw", "missing", "-df"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(Says(r, "nothing to apply: ")) << r.err;
  EXPECT_EQ(Snapshot(), before);  // no empty DATA.pak either
}

// ---- Pack volumes are never overwritten ----

TEST_F(HostileInputTest, DeliveredFilesNamedLikeAnyVolumeOfTheInstallationAreKeptBack) {
  // The default set with a chained volume, and another set that -sp names.
  WriteFile(Delivered("Pak/seed.bin"), "seed");
  ASSERT_EQ(Run({"-sw", "update", "-df"}).exitStatus, 0);
  WriteFile(Delivered("Pak/other.bin"), "other seed");
  ASSERT_EQ(Run({"-sw", "update", "-df", "-sp", "Other.pak"}).exitStatus, 0);
  WriteFile(In("Data1.pak"), "stands for a chained volume of the default set");
  for (const char* name : {"DATA.pak", "data1.PAK", "Other.pak"}) {
    WriteFile(Delivered(name), "8 bytes!");
  }
  WriteFile(Delivered("fine.txt"), "fine");
  const Tree before = Snapshot();
  RunResult r = Run({"-sw", "update", "-df", "-sp", "Other.pak"});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  for (const char* name : {"DATA.pak", "data1.PAK", "Other.pak"}) {
    EXPECT_TRUE(Says(r, "kept back " + Delivered(name) + ": would overwrite the pack volume "))
        << name << ": " << r.err;
  }
  EXPECT_EQ(Snapshot(),
            Changed(before, {{"install/fine.txt", "fine"}, {"install/update/fine.txt", kGone}}));
  PackReader pack(install());
  EXPECT_EQ(pack.Read("SEED.BIN"), "seed");
}

// ---- Command lines that would write where they must not (see also
// SafeUpdateTest.RunsThatWouldDamageTheInstallationAreRefusedUntouched) ----

TEST_F(HostileInputTest, TheLargestUpdateIndexIsTakenWhole) {
  // Every other value is refused (see SafeUpdateTest); this one is the edge.
  MakeDirs(In("UpdateSetting"));
  RunResult r = Run({"-sv", "4294967295"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(In("UpdateSetting/UpdateIndex.dat")), "\xFF\xFF\xFF\xFF");
}

TEST_F(HostileInputTest, AShortConversionSourceIsRefusedAndTheTargetStays) {
  WriteFile(In("two"), "ab");
  WriteFile(In("target"), "earlier text");
  const Tree before = Snapshot();
  RunResult r = Run({"-mbts", "two", "target"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err,
            "marovetin: -mbts: \"two\" holds 2 bytes, fewer than the 4 of a number; "
            "nothing written\n");
  EXPECT_EQ(Snapshot(), before);
}

// ---- Case twins, spellings of Pak, loose copies of pack files ----

TEST_F(HostileInputTest, CaseTwinsGoAsideSoThatARerunChangesNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows directory cannot hold two names that differ only in case";
#else
  WriteFile(Delivered("docs/Index.html"), "upper");
  WriteFile(Delivered("docs/index.html"), "lower");
  WriteFile(Delivered("Pak/B.dat"), "upper pack");
  WriteFile(Delivered("Pak/b.dat"), "lower pack");
  const Tree before = Snapshot();
  RunResult first = Run({"-sw", "update", "-df", "-log", "run.log"});
  EXPECT_EQ(first.exitStatus, 1) << first.err;
  const std::string aside = update() + "/.kept-back/";
  EXPECT_TRUE(Says(first, "kept back " + Delivered("docs/Index.html") + ": overwritten by " +
                              Delivered("docs/index.html") +
                              ", whose name differs only in letter case; moved to " + aside +
                              "docs/Index.html\n"))
      << first.err;
  EXPECT_TRUE(Says(
      first, "kept back " + Delivered("Pak/B.dat") + ": overwritten by " + Delivered("Pak/b.dat") +
                 ", whose name differs only in letter case; moved to " + aside + "Pak/B.dat\n"))
      << first.err;
  EXPECT_EQ(Count(first.err, "overwritten by"), 2u) << first.err;
  const Tree afterFirst = Snapshot();
  // One file in the installation, under the first name, with the last bytes.
  EXPECT_EQ(afterFirst, Changed(before, {{"install/docs", "<dir>"},
                                         {"install/docs/Index.html", "lower"},
                                         {"install/update/docs", kGone},
                                         {"install/update/docs/Index.html", kGone},
                                         {"install/update/docs/index.html", kGone},
                                         {"install/update/Pak", kGone},
                                         {"install/update/Pak/B.dat", kGone},
                                         {"install/update/Pak/b.dat", kGone},
                                         {"install/update/.kept-back", "<dir>"},
                                         {"install/update/.kept-back/docs", "<dir>"},
                                         {"install/update/.kept-back/docs/Index.html", "upper"},
                                         {"install/update/.kept-back/Pak", "<dir>"},
                                         {"install/update/.kept-back/Pak/B.dat", "upper pack"},
                                         {"install/DATA.pak", afterFirst.at("install/DATA.pak")},
                                         {"install/run.log", afterFirst.at("install/run.log")}}));
  // The run log says what was kept back, and gives no size for it.
  const std::string log = ReadFile(In("run.log"));
  EXPECT_NE(log.find(Delivered("docs/Index.html") + " kept back: overwritten by"),
            std::string::npos)
      << log;

  // The rerun applies nothing over the later twins; what lies aside is named.
  RunResult second = Run({"-sw", "update", "-df"});
  EXPECT_EQ(second.exitStatus, 1) << second.err;
  EXPECT_TRUE(Says(second, "not applied " + aside + "docs/Index.html: an earlier run kept it"))
      << second.err;
  EXPECT_EQ(Snapshot(), afterFirst);
  PackReader pack(install());
  EXPECT_EQ(pack.Read("B.DAT"), "lower pack");
  EXPECT_EQ(pack.FileCount(), 1u);
#endif
}

TEST_F(HostileInputTest, CaseTwinsWithoutDeletingAreNamedOnceEach) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows directory cannot hold two names that differ only in case";
#else
  WriteFile(Delivered("A.txt"), "upper");
  WriteFile(Delivered("a.txt"), "lower");
  WriteFile(Delivered("Pak/B.dat"), "upper pack");
  WriteFile(Delivered("Pak/b.dat"), "lower pack");
  RunResult r = Run({"-sw", "update"});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_EQ(Count(r.err, "overwritten by"), 2u) << r.err;
  EXPECT_TRUE(Says(r, "kept back " + Delivered("A.txt") + ": overwritten by " + Delivered("a.txt")))
      << r.err;
  EXPECT_TRUE(
      Says(r, "kept back " + Delivered("Pak/B.dat") + ": overwritten by " + Delivered("Pak/b.dat")))
      << r.err;
  EXPECT_EQ(ReadFile(In("A.txt")), "lower");
  EXPECT_EQ(ReadFile(In("Pak/b.dat")), "lower pack");
#endif
}

TEST_F(HostileInputTest, EverySpellingOfPakFeedsThePack) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows directory cannot hold two names that differ only in case";
#else
  WriteFile(Delivered("Pak/a.bin"), "a");
  WriteFile(Delivered("PAK/b.bin"), "b");
  WriteFile(Delivered("pak/sub/c.bin"), "c");
  WriteFile(Delivered("loose.txt"), "loose");
  const Tree before = Snapshot();
  RunResult r = Run({"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const Tree after = Snapshot();
  EXPECT_EQ(after, Changed(before, {{"install/update", kGone},
                                    {"install/update/Pak", kGone},
                                    {"install/update/Pak/a.bin", kGone},
                                    {"install/update/PAK", kGone},
                                    {"install/update/PAK/b.bin", kGone},
                                    {"install/update/pak", kGone},
                                    {"install/update/pak/sub", kGone},
                                    {"install/update/pak/sub/c.bin", kGone},
                                    {"install/update/loose.txt", kGone},
                                    {"install/loose.txt", "loose"},
                                    {"install/DATA.pak", after.at("install/DATA.pak")}}));
  PackReader pack(install());
  EXPECT_EQ(pack.Read("A.BIN"), "a");
  EXPECT_EQ(pack.Read("B.BIN"), "b");
  EXPECT_EQ(pack.Read("SUB/C.BIN"), "c");
  EXPECT_EQ(pack.FileCount(), 3u);
#endif
}

TEST_F(HostileInputTest, ALooseCopyOfAPackFileThatCannotBeWrittenIsNamed) {
  // Without -df every pack file is also written under Pak/; a directory in
  // its place stops that write.
  MakeDirs(In("Pak/a.bin"));
  WriteFile(Delivered("Pak/a.bin"), "packed");
  WriteFile(Delivered("Pak/b.bin"), "also packed");
  const Tree before = Snapshot();
  RunResult r = Run({"-sw", "update"});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_TRUE(Says(r, "kept back " + Delivered("Pak/a.bin") + ": could not be written to "))
      << r.err;
  const Tree after = Snapshot();
  EXPECT_EQ(after, Changed(before, {{"install/Pak/b.bin", "also packed"},
                                    {"install/DATA.pak", after.at("install/DATA.pak")}}));
  PackReader pack(install());
  EXPECT_EQ(pack.Read("A.BIN"), "packed");
}

// ---- Permissions ----

TEST_F(HostileInputTest, ReplacedFilesKeepTheirPermissionsAndNewOnesTakeTheDelivered) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permission bits";
#else
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const auto modeOf = [](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  };
  struct File {
    const char* name;
    int installedMode;  // -1: not installed before
    int deliveredMode;
    int expectedMode;  // before the umask for new files
  };
  const File files[] = {
      {"game.bin", -1, 0755, 0755},
      {"private.key", -1, 0600, 0600},
      {"readonly.txt", 0444, 0644, 0444},
      {"tool.sh", 0750, 0644, 0750},
  };
  // Copied (without -df) and moved into place (with it).
  for (const bool deletes : {false, true}) {
    SCOPED_TRACE(deletes ? "-df" : "without -df");
    fs::remove_all(install());
    for (const File& file : files) {
      if (file.installedMode >= 0) {
        WriteFile(In(file.name), "old");
        ::chmod(In(file.name).c_str(), static_cast<mode_t>(file.installedMode));
      }
      WriteFile(Delivered(file.name), "new");
      ::chmod(Delivered(file.name).c_str(), static_cast<mode_t>(file.deliveredMode));
    }
    std::vector<std::string> arguments = {"-sw", "update"};
    if (deletes) arguments.push_back("-df");
    RunResult r = Run(arguments);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    for (const File& file : files) {
      EXPECT_EQ(ReadFile(In(file.name)), "new") << file.name;
      const int expected = file.installedMode >= 0 ? file.expectedMode
                                                   : (file.expectedMode & ~static_cast<int>(mask));
      EXPECT_EQ(modeOf(In(file.name)), expected) << file.name;
    }
  }
#endif
}

// ---- Messages ----

TEST_F(HostileInputTest, APathLongerThanTheSystemAllowsIsSaidSo) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a POSIX shell";
#else
  MakeDirs(update());
  // Each level is short enough, the whole path is not; made level by level
  // from the one above, as no path may name the deepest.
  const std::string level(200, 'd');
  int directory = ::open(update().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0);
  for (int i = 0; i < 24; ++i) {
    ASSERT_EQ(::mkdirat(directory, level.c_str(), 0755), 0);
    const int next = ::openat(directory, level.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(directory);
    directory = next;
    ASSERT_GE(directory, 0);
  }
  const int file = ::openat(directory, "f", O_CREAT | O_WRONLY, 0644);
  ::close(directory);
  ASSERT_GE(file, 0);
  ::close(file);
  WriteFile(Delivered("fine.txt"), "fine");
  RunResult r = Run({"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_TRUE(Says(r, ": its path is longer than the system allows\n")) << r.err;
  EXPECT_FALSE(Says(r, "not a regular file")) << r.err;
  EXPECT_EQ(ReadFile(In("fine.txt")), "fine");
  // The library's recursive removal may stop at such a depth; rm does not.
  testing_support::RunProgram("/bin/rm", {"-rf", update()}, install());
#endif
}

TEST_F(HostileInputTest, TheRunLogSaysKeptBackInsteadOfASize) {
  WriteFile(Delivered("Pak/empty.bin"), "");
  WriteFile(Delivered("Pak/full.bin"), "full");
  RunResult r = Run({"-sw", "update", "-df", "-log", "run.log"});
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  const std::string log = ReadFile(In("run.log"));
  EXPECT_NE(log.find(Delivered("Pak/empty.bin") + " kept back: it is empty"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("empty.bin size="), std::string::npos) << log;
  EXPECT_NE(log.find("full.bin size=4"), std::string::npos) << log;
}

}  // namespace

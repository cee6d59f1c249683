// What marovetin-mkupdate refuses, and what it names as beyond any update:
// one row per case, each with its exit status, the words it must say, and
// what must be left of OUT.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "mkupdate_e2e_support.h"

namespace {

using namespace mkupdate_e2e;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Row {
  const char* name;
  // Fills old/ and new/ (and anything else) below the scratch directory.
  std::function<void(const TempDir&)> setUp;
  std::vector<std::string> arguments;  // "OLD", "NEW", "OUT" stand for the directories
  int exitStatus;
  std::vector<std::string> said;  // on standard error
  enum class Out { kAbsent, kHasPayloads, kUntouched } out;
  std::vector<std::string> payloads = {};  // below OUT, when it has payloads
};

void Base(const TempDir& dir) {
  WriteFile(dir.Join("old/readme.txt"), "old readme");
  WriteFile(dir.Join("new/readme.txt"), "new readme");
}

const Row kRows[] = {
    {"RemovedFileIsNamedWithTheCount",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("old/maps/old.map"), "gone");
     },
     {"OLD", "NEW", "OUT"},
     3,
     {"cannot be expressed: maps/old.map is removed in NEW\n", "1 change cannot be expressed"},
     Row::Out::kHasPayloads,
     {"readme.txt"}},
    {"LooseFileBelowPakCannotBeDeliveredButAnUnchangedOneIsNoMatter",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("old/pak/same.dat"), "same");
       WriteFile(d.Join("new/pak/same.dat"), "same");
       WriteFile(d.Join("new/Pak/x.dat"), "would go into the pack");
     },
     {"OLD", "NEW", "OUT"},
     3,
     {"cannot be expressed: Pak/x.dat is new in NEW, but it is a loose file below \"Pak\""},
     Row::Out::kHasPayloads,
     {"readme.txt"}},
    {"FileInADotDirectoryIsNeverSearched",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("new/.cache/x"), "x");
     },
     {"OLD", "NEW", "OUT"},
     3,
     {"cannot be expressed: .cache/x is new in NEW, but it lies in"},
     Row::Out::kHasPayloads,
     {"readme.txt"}},
    {"NewTwinsWouldLandOnOneFile",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("new/Twin.txt"), "one");
       WriteFile(d.Join("new/twin.TXT"), "two");
     },
     {"OLD", "NEW", "OUT"},
     3,
     {"cannot be expressed: Twin.txt is new in NEW, but NEW has other files",
      "cannot be expressed: twin.TXT is new in NEW"},
     Row::Out::kHasPayloads,
     {"readme.txt"}},
    {"LinkIsNeitherFollowedNorDelivered",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("secret"), "outside");
       ASSERT_EQ(symlink(d.Join("secret").c_str(), d.Join("new/link").c_str()), 0);
       testing_support::MakeDirs(d.Join("new"));
       ASSERT_EQ(symlink(d.path().c_str(), d.Join("new/up").c_str()), 0);
     },
     {"OLD", "NEW", "OUT"},
     3,
     {"cannot be expressed: link is no regular file in NEW (link to",
      "cannot be expressed: up is no regular file in NEW"},
     Row::Out::kHasPayloads,
     {"readme.txt"}},
    {"LetterCaseOfOldIsNamed",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("old/Maps/A.map"), "a");
       WriteFile(d.Join("new/Maps/a.MAP"), "b");
     },
     {"-q", "OLD", "NEW", "OUT/"},
     0,
     {"letter case: Maps/a.MAP is Maps/A.map in OLD; written under NEW's spelling"},
     Row::Out::kHasPayloads,
     {"Maps/a.MAP", "readme.txt"}},
    {"OutNotEmptyIsRefusedAndLeftAlone",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("out/keep"), "mine");
     },
     {"OLD", "NEW", "OUT"},
     64,
     {"OUT is not empty"},
     Row::Out::kUntouched},
    {"OutInsideNewIsRefused",
     Base,
     {"OLD", "NEW", "NEW/out"},
     64,
     {"NEW and OUT must not be or contain one another"},
     Row::Out::kAbsent},
    {"SameOldAndNewIsRefused",
     Base,
     {"OLD", "OLD/.", "OUT"},
     64,
     {"OLD and NEW must not be or contain one another"},
     Row::Out::kAbsent},
    {"MissingOldIsAFailure",
     [](const TempDir& d) { WriteFile(d.Join("new/a"), "a"); },
     {"OLD", "NEW", "OUT"},
     1,
     {"OLD does not exist"},
     Row::Out::kAbsent},
    {"UnloadablePackIsAFailure",
     [](const TempDir& d) {
       Base(d);
       WriteFile(d.Join("new/DATA.pak"), "not a pack volume at all");
     },
     {"OLD", "NEW", "OUT"},
     1,
     {"the pack set cannot be read"},
     Row::Out::kAbsent},
    {"EntryOfAnUnknownFilterFailsAndTakesOutBack",
     [](const TempDir& d) {
       Base(d);
       testing_support::MakeDirs(d.Join("new"));
       TestSet set(d.Join("new"), true, 7);
       set.Add("A/B.DAT", "stored through filter 7");
     },
     {"OLD", "NEW", "OUT"},
     1,
     {"A/B.DAT is stored through filter 7, which is not known"},
     Row::Out::kAbsent},
    {"UnknownOptionIsAUsageError",
     Base,
     {"-x", "OLD", "NEW", "OUT"},
     64,
     {"unknown option -x", "--help"},
     Row::Out::kAbsent},
    {"NoWorkersIsAUsageError",
     Base,
     {"-j", "0", "OLD", "NEW", "OUT"},
     64,
     {"-j 0"},
     Row::Out::kAbsent},
    {"PackNameOutsideTheInstallationIsAUsageError",
     Base,
     {"-sp", "../x.pak", "OLD", "NEW", "OUT"},
     64,
     {"-sp ../x.pak must name a file below the installation"},
     Row::Out::kAbsent},
    {"TwoDirectoriesAreAUsageError",
     Base,
     {"OLD", "NEW"},
     64,
     {"OLD, NEW and OUT must be given"},
     Row::Out::kAbsent},
};

class MkupdateRefusal : public ::testing::TestWithParam<Row> {};

TEST_P(MkupdateRefusal, SaysWhyAndLeavesOutAsItShould) {
  const Row& row = GetParam();
  TempDir dir;
  testing_support::MakeDirs(dir.Join("old"));
  row.setUp(dir);
  std::vector<std::string> args;
  for (const std::string& arg : row.arguments) {
    if (arg.rfind("OLD", 0) == 0)
      args.push_back(dir.Join("old" + arg.substr(3)));
    else if (arg.rfind("NEW", 0) == 0)
      args.push_back(dir.Join("new" + arg.substr(3)));
    else if (arg.rfind("OUT", 0) == 0)
      args.push_back(dir.Join("out" + arg.substr(3)));
    else
      args.push_back(arg);
  }
  if (row.name == std::string("MissingOldIsAFailure")) fs::remove_all(dir.Join("old"));
  const auto result = RunMkupdate(args, dir.path());
  EXPECT_EQ(result.exitStatus, row.exitStatus) << result.err;
  for (const std::string& words : row.said) {
    EXPECT_NE(result.err.find(words), std::string::npos) << "missing: " << words << "\n"
                                                         << result.err;
  }
  switch (row.out) {
    case Row::Out::kAbsent:
      EXPECT_FALSE(fs::exists(dir.Join("out")));
      break;
    case Row::Out::kUntouched:
      EXPECT_EQ(ReadLoose(dir.Join("out")), (Files{{"keep", "mine"}}));
      break;
    case Row::Out::kHasPayloads: {
      std::vector<std::string> payloads;
      for (const auto& [path, bytes] : ReadLoose(dir.Join("out"))) payloads.push_back(path);
      EXPECT_EQ(payloads, row.payloads);
      // Nothing of the scratch directory stays.
      EXPECT_FALSE(fs::exists(dir.Join("out/.marovetin-mkupdate-scratch")));
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, MkupdateRefusal, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) {
                           return std::string(row.param.name);
                         });

TEST(MkupdateCommandLine, HelpAndVersionTouchNothing) {
  TempDir dir;
  const auto help = RunMkupdate({"--help", "nothing", "here"}, dir.path());
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.out.rfind(
                "Usage: marovetin-mkupdate [-dc] [-de] [-sp FILE] [-j N] [-q] OLD NEW OUT\n", 0),
            0u);
  const auto version = RunMkupdate({"--version"}, dir.path());
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.out.rfind("marovetin-mkupdate ", 0), 0u);
  EXPECT_FALSE(fs::exists(dir.Join("here")));
}

}  // namespace

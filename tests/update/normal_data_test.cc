// The loose-file stage: search of the work path, one write per message, "-df".
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "fault_env.h"
#include "platform/env.h"
#include "test_support.h"
#include "update/update_dialog.h"
#include "update_fakes.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;
using update::UpdateDialog;

class NormalDataTest : public update_testing::InstallationTest {};

TEST_F(NormalDataTest, FilesAreWrittenUnderTheirRelativeNames) {
  WriteFile(install() + "/b.txt", "old content that is longer");
  WriteFile(work() + "/b.txt", "new");
  WriteFile(work() + "/x/y/z.dat", "deep");
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog), "");
  EXPECT_EQ(ReadFile(install() + "/b.txt"), "new");  // truncated, not overlaid
  EXPECT_EQ(ReadFile(install() + "/x/y/z.dat"), "deep");
  EXPECT_TRUE(Logged("b.txt size=3\n"));
  EXPECT_TRUE(Logged("x\\y\\z.dat size=4\n"));
  EXPECT_EQ(ReadFile(work() + "/b.txt"), "new");  // no "-df"
}

TEST_F(NormalDataTest, FilesTooLargeForMemoryAreWrittenInPiecesWithHoles) {
  // Over 4 bytes a file is decoded straight into its temporary; runs of
  // zeros stay holes there, and the file still has its whole length.
  const std::string zeros(300000, '\0');
  WriteFile(work() + "/big.dat", "head" + zeros);
  WriteFile(work() + "/zeros.dat", zeros);
  WriteFile(work() + "/small.dat", "abc");
  host_.removeSources = true;
  update::ReadAheadLimits limits = update::ReadAheadLimitsForJobs(2);
  limits.maxFileBytes = 4;
  UpdateDialog dialog(host_, store_, progress_);
  dialog.SetReadAheadLimits(limits);
  EXPECT_EQ(Run(dialog), "");
  EXPECT_EQ(ReadFile(install() + "/big.dat"), "head" + zeros);
  EXPECT_EQ(ReadFile(install() + "/zeros.dat"), zeros);
  EXPECT_EQ(ReadFile(install() + "/small.dat"), "abc");
  EXPECT_TRUE(Logged("big.dat size=300004\n"));
  EXPECT_FALSE(FileExists(work() + "/big.dat"));
}

TEST_F(NormalDataTest, TheLastFrameShowsEveryListedFileDone) {
  // Under -df the pack files are gone before the loose stage meets them in
  // its list again, and an unreadable file is kept back: each still counts.
  WriteFile(pak() + "/a.bin", "a");
  WriteFile(pak() + "/b.bin", "b");
  WriteFile(work() + "/c.txt", "c");
  host_.unreadable.insert(work() + "\\c.txt");
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  Run(dialog);
  const std::string bar = progress_.BarText();
  EXPECT_NE(bar.find("100% files 3/3"), std::string::npos) << bar;
}

TEST_F(NormalDataTest, FullDiskLeavesTheOldFileWholeAndNoTemporaryBehind) {
  const std::string old(50000, 'o');
  WriteFile(install() + "/big.dat", old);
  WriteFile(work() + "/big.dat", std::string(90000, 'n'));
  WriteFile(work() + "/small.dat", "small");
  host_.removeSources = true;
  // Every write to a temporary tears after 4096 bytes, as a disk that fills.
  testing_support::FaultEnv faults;
  faults.onWrite = [](const std::string& path, std::uint64_t, std::size_t length) {
    testing_support::WriteDecision decision;
    if (path.find(update::LooseFileBatch::kTemporarySuffix) != std::string::npos && length > 4096) {
      decision = {testing_support::WriteDecision::kTear, 4096, ENOSPC};
    }
    return decision;
  };
  host_.files = &faults;
  UpdateDialog dialog(host_, store_, progress_);
  std::string err = Run(dialog);
  host_.files = platform::Env::Default();
  EXPECT_EQ(err, "marovetin: kept back " + work() + "/big.dat: could not be written to " +
                     install() + "/big.dat: No space left on device\n");
  EXPECT_EQ(ReadFile(install() + "/big.dat"), old);
  EXPECT_EQ(ReadFile(work() + "/big.dat"), std::string(90000, 'n'));
  EXPECT_EQ(ReadFile(install() + "/small.dat"), "small");
  EXPECT_FALSE(FileExists(work() + "/small.dat"));
  EXPECT_FALSE(FileExists(install() + "/big.dat" + update::LooseFileBatch::kTemporarySuffix));
  EXPECT_EQ(dialog.outcome().keptBack, 1);
}

TEST_F(NormalDataTest, LooseFileIsNeverWrittenOverAPackVolume) {
  WriteFile(install() + "/DATA.pak", "volume");
  WriteFile(work() + "/data.PAK", "delivered");
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog), "marovetin: kept back " + work() +
                             "/data.PAK: would overwrite the pack "
                             "volume DATA.pak\n");
  EXPECT_EQ(ReadFile(install() + "/DATA.pak"), "volume");
  EXPECT_EQ(ReadFile(work() + "/data.PAK"), "delivered");
}

TEST_F(NormalDataTest, AFileThatCannotBeLookedAtIsNeverTakenForNoVolume) {
  // Whether the file there is a pack volume is not known when either the
  // destination or the volume cannot be looked at: both stay, for a rerun.
  const struct {
    const char* unstampable;  // the spelling whose look fails
    const char* reason;
  } rows[] = {
      {"data.PAK", "could not be written to INSTALL/data.PAK: Input/output error"},
      {"DATA.pak", "would overwrite the pack volume DATA.pak"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.unstampable);
    WriteFile(install() + "/DATA.pak", "volume");
    WriteFile(work() + "/data.PAK", "delivered");
    host_.removeSources = true;
    struct Unstampable : platform::EnvWrapper {
      explicit Unstampable(std::string name)
          : EnvWrapper(platform::Env::Default()), spelling(std::move(name)) {}
      platform::Status StampFile(const std::string& path, platform::FileStamp* stamp) override {
        *stamp = platform::FileStamp();
        if (path.size() >= spelling.size() &&
            path.compare(path.size() - spelling.size(), spelling.size(), spelling) == 0) {
          return platform::Status::FromErrno(EIO, path);
        }
        return target()->StampFile(path, stamp);
      }
      std::string spelling;
    } unstampable(row.unstampable);
    host_.files = &unstampable;
    UpdateDialog dialog(host_, store_, progress_);
    const std::string err = Run(dialog);
    host_.files = platform::Env::Default();
    std::string reason = row.reason;
    const std::size_t at = reason.find("INSTALL");
    if (at != std::string::npos) reason.replace(at, 7, install());
    EXPECT_EQ(err, "marovetin: kept back " + work() + "/data.PAK: " + reason + "\n");
    EXPECT_EQ(ReadFile(install() + "/DATA.pak"), "volume");
    EXPECT_EQ(ReadFile(work() + "/data.PAK"), "delivered");
    EXPECT_EQ(dialog.outcome().keptBack, 1);
  }
}

TEST_F(NormalDataTest, SourceIsDeletedOnlyAfterItsDestinationWasWritten) {
  WriteFile(work() + "/good.txt", "G");
  WriteFile(work() + "/blocked.txt", "B");
  testing_support::MakeDirs(install() + "/blocked.txt");  // cannot be opened for writing
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  std::string err = Run(dialog);
  EXPECT_NE(err.find("kept back " + work() + "/blocked.txt: could not be written to " + install() +
                     "/blocked.txt: Is a directory"),
            std::string::npos)
      << err;
  EXPECT_EQ(ReadFile(work() + "/blocked.txt"), "B");
  EXPECT_FALSE(FileExists(work() + "/good.txt"));
  EXPECT_EQ(ReadFile(install() + "/good.txt"), "G");
  EXPECT_TRUE(Logged("Remove Dir = " + work() + "\\good.txt \n"));
  EXPECT_FALSE(Logged("Remove Dir = " + work() + "\\blocked.txt \n"));
  EXPECT_EQ(dialog.outcome().keptBack, 1);
  // The work path still holds the kept file, so it stays.
  EXPECT_TRUE(FileExists(work()));
}

TEST_F(NormalDataTest, UnreadableFileIsKeptBackAndTheBarDoesNotMoveForIt) {
  WriteFile(work() + "/a.txt", "A");
  WriteFile(work() + "/b.txt", "B");
  host_.unreadable.insert(work() + "\\a.txt");
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  std::string err = Run(dialog);
  EXPECT_EQ(err, "marovetin: kept back " + work() + "/a.txt: cannot be read\n");
  EXPECT_EQ(ReadFile(work() + "/a.txt"), "A");
  EXPECT_FALSE(FileExists(install() + "/a.txt"));
  EXPECT_EQ(ReadFile(install() + "/b.txt"), "B");
  int positions = 0;
  for (const auto& m : progress_.sent) {
    if (m.message == update::PBM_SETPOS && m.wParam != 0) ++positions;
  }
  EXPECT_EQ(positions, 1);  // only b.txt (index 1) moved the bar
}

TEST_F(NormalDataTest, WithoutASeparateWorkPathFilesAreRewrittenInPlaceAndNeverDeleted) {
  host_.work = install();
  host_.removeSources = true;
  WriteFile(install() + "/a.txt", "keep me");
  WriteFile(install() + "/dir/deeper/b.txt", "me too");
  testing_support::MakeDirs(install() + "/update");
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog), "");
  EXPECT_EQ(ReadFile(install() + "/a.txt"), "keep me");
  EXPECT_EQ(ReadFile(install() + "/dir/deeper/b.txt"), "me too");
  EXPECT_TRUE(host_.logLines.size() >= 2u);
  for (const std::string& line : host_.logLines) {
    EXPECT_EQ(line.find("Remove Dir"), std::string::npos) << line;
  }
}

TEST_F(NormalDataTest, PackEntriesComeFirstAndAreWrittenUnderPakWithoutDeleteSources) {
  WriteFile(work() + "/Pak/sub/a.txt", "pack");
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog), "");
  ASSERT_EQ(dialog.fileList().size(), 2u);
  EXPECT_EQ(dialog.fileList()[0], work() + "/Pak\\sub\\a.txt");
  EXPECT_EQ(ReadFile(install() + "/Pak/sub/a.txt"), "pack");
  EXPECT_NE(stdout_.find("FileSize is 2\n"), std::string::npos);
}

TEST_F(NormalDataTest, WorkPathEndingInASlashCutsPackEntriesAtTheirFirstLetter) {
  // "-sw update/": the pack search's entries start with ".../update/Pak",
  // with no separator of their own after the work path.
  host_.work = work() + "/";
  WriteFile(work() + "/Pak/sub/a.txt", "pack");
  WriteFile(work() + "/b.txt", "loose");
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog), "");
  EXPECT_EQ(store_.stored.at("sub\\a.txt"), "pack");
  EXPECT_EQ(ReadFile(install() + "/Pak/sub/a.txt"), "pack");
  EXPECT_EQ(ReadFile(install() + "/b.txt"), "loose");
  EXPECT_FALSE(FileExists(install() + "/ak"));
  EXPECT_TRUE(Logged("Pak\\sub\\a.txt size=4\n"));
}

TEST_F(NormalDataTest, WorkPathNamingAFileIsKeptBackNotWrittenOverTheInstallation) {
  host_.work = install() + "/delivered.bin";
  host_.removeSources = true;
  WriteFile(host_.work, "payload");
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog),
            "marovetin: kept back " + host_.work + ": has no name below the work path\n");
  EXPECT_EQ(ReadFile(host_.work), "payload");
  // Logged as kept back, with no size as if it had been written.
  EXPECT_EQ(host_.logLines,
            std::vector<std::string>{host_.work + " kept back: has no name below the work path\n"});
  EXPECT_EQ(dialog.outcome().keptBack, 1);
  EXPECT_EQ(dialog.state(), update::UpdateState::kQuit);
}

}  // namespace

// The pack stage: search below "Pak", one store per message, "-df".
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "test_support.h"
#include "update/update_dialog.h"
#include "update_fakes.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;
using update::UpdateDialog;

class PackUpdateTest : public update_testing::InstallationTest {};

TEST_F(PackUpdateTest, EachFileIsStoredUnderItsNameBelowPak) {
  WriteFile(pak() + "/sub/a.txt", "alpha");
  WriteFile(pak() + "/b.bin", std::string("\0\1\2", 3));
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog), "");
  EXPECT_EQ(store_.order, (std::vector<std::string>{"b.bin", "sub\\a.txt"}));
  EXPECT_EQ(store_.stored.at("sub\\a.txt"), "alpha");
  EXPECT_EQ(store_.stored.at("b.bin"), std::string("\0\1\2", 3));
  EXPECT_TRUE(Logged(pak() + "\\sub\\a.txt size=5\n"));
  EXPECT_TRUE(Logged(pak() + "\\b.bin size=3\n"));
  // Without "-df" the sources stay.
  EXPECT_TRUE(FileExists(pak() + "/sub/a.txt"));
  EXPECT_EQ(dialog.outcome().keptBack, 0);
}

TEST_F(PackUpdateTest, SizeLineIsLoggedBeforeTheStoreEvenWhenTheStoreFails) {
  WriteFile(pak() + "/a.txt", "abc");
  store_.failing.insert("a.txt");
  UpdateDialog dialog(host_, store_, progress_);
  dialog.SetStateForTesting(update::UpdateState::kFindPackFiles);
  dialog.findPackFiles(0, 0);
  dialog.SetStateForTesting(update::UpdateState::kStorePackFiles);
  testing::internal::CaptureStderr();
  dialog.applyPackFile(0, 0);
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_FALSE(host_.logLines.empty());
  EXPECT_EQ(host_.logLines.front(), pak() + "\\a.txt size=3\n");
  EXPECT_EQ(err, "marovetin: kept back " + pak() + "/a.txt: could not be stored in the pack\n");
}

TEST_F(PackUpdateTest, DeleteSourcesRemovesStoredFilesAndTheEmptiedTree) {
  WriteFile(pak() + "/sub/deep/a.txt", "alpha");
  WriteFile(pak() + "/b.bin", "beta");
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_EQ(Run(dialog), "");
  EXPECT_EQ(store_.stored.size(), 2u);
  EXPECT_FALSE(FileExists(pak()));
  // The stored files are listed again for the loose-file stage; gone by
  // then, they are done, not missing.
  EXPECT_EQ(dialog.outcome().keptBack, 0);
  EXPECT_TRUE(Logged("Remove Dir = " + pak() + "\\sub\\deep\\a.txt \n"));
  EXPECT_TRUE(Logged("Remove Dir = " + pak() + "\\b.bin \n"));
  // Nothing was written as loose files under "Pak" in the installation.
  EXPECT_FALSE(FileExists(root_.Join("install/Pak")));
  // The emptied work path itself goes at the end.
  EXPECT_FALSE(FileExists(work()));
}

TEST_F(PackUpdateTest, EmptiedDirectoriesGoAtTheStagesEndAndOneThatStaysIsNamedOnce) {
  for (const char* name : {"d1/a.bin", "d1/b.bin", "d1/deep/c.bin", "d2/a.bin", "d2/b.bin"}) {
    WriteFile(pak() + "/" + name, name);
  }
  store_.failing.insert("d2\\b.bin");  // kept back: d2 still holds it
  host_.removeSources = true;
  std::vector<bool> d1AtCommit;
  store_.onCommit = [&] { d1AtCommit.push_back(FileExists(pak() + "/d1/deep")); };
  UpdateDialog dialog(host_, store_, progress_);
  Run(dialog);
  EXPECT_EQ(dialog.outcome().keptBack, 1);
  EXPECT_EQ(d1AtCommit, std::vector<bool>{true});
  EXPECT_FALSE(FileExists(pak() + "/d1"));
  EXPECT_EQ(ReadFile(pak() + "/d2/b.bin"), "d2/b.bin");
  // d2 is tried once, not once for each file deleted from it; no deleted
  // file's own path is named.
  const std::string stays = "Remove Directory:" + pak() + "/d2";
  ASSERT_NE(stdout_.find(stays), std::string::npos) << stdout_;
  EXPECT_EQ(stdout_.find("Remove Directory:"), stdout_.find(stays));
  EXPECT_EQ(stdout_.rfind("Remove Directory:"), stdout_.find(stays));
}

TEST_F(PackUpdateTest, SourceWhoseStoreFailedIsKeptUnderDeleteSources) {
  WriteFile(pak() + "/sub/a.txt", "alpha");
  WriteFile(pak() + "/b.bin", "beta");
  store_.failing.insert("sub\\a.txt");
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  std::string err = Run(dialog);
  EXPECT_EQ(err, "marovetin: kept back " + pak() + "/sub/a.txt: could not be stored in the pack\n");
  EXPECT_EQ(dialog.outcome().keptBack, 1);
  EXPECT_EQ(ReadFile(pak() + "/sub/a.txt"), "alpha");
  EXPECT_FALSE(FileExists(pak() + "/b.bin"));
  EXPECT_FALSE(Logged("Remove Dir = " + pak() + "\\sub\\a.txt \n"));
  EXPECT_FALSE(Logged("Remove Dir = " + work() + "\\Pak\\sub\\a.txt \n"));
}

TEST_F(PackUpdateTest, BatchesCommitByBytesOrTimeAndSourcesGoOnlyAfterTheirCommit) {
  constexpr int kFiles = 7;
  struct Case {
    UpdateDialog::BatchBudget budget;
    std::vector<std::size_t> batches;
  };
  const std::vector<Case> cases = {
      {{10, 3600 * 1000}, {3, 3, 1}},           // 4 bytes a file: a batch reaches 10 at its third
      {{1 << 30, 0}, {1, 1, 1, 1, 1, 1, 1}},    // no time to wait: every file commits
      {{1 << 30, 3600 * 1000}, {kFiles}},       // neither: one batch at the end
  };
  for (const Case& c : cases) {
    for (int i = 0; i < kFiles; ++i) WriteFile(pak() + "/d/" + std::to_string(i), "four");
    host_.removeSources = true;
    store_.batches.clear();
    std::vector<std::size_t> presentAtCommit;
    store_.onCommit = [&] {
      std::size_t present = 0;
      for (int i = 0; i < kFiles; ++i) present += FileExists(pak() + "/d/" + std::to_string(i));
      presentAtCommit.push_back(present);
    };
    UpdateDialog dialog(host_, store_, progress_);
    dialog.SetPackBatchBudget(c.budget);
    EXPECT_EQ(Run(dialog), "");
    EXPECT_EQ(store_.batches, c.batches);
    // Every source of a batch is still there when it commits.
    std::size_t left = kFiles;
    for (std::size_t b = 0; b < c.batches.size() && b < presentAtCommit.size(); ++b) {
      EXPECT_EQ(presentAtCommit[b], left);
      left -= c.batches[b];
    }
    EXPECT_FALSE(FileExists(pak()));
    EXPECT_EQ(dialog.outcome().keptBack, 0);
  }
}

TEST_F(PackUpdateTest, FilesTooLargeForMemoryAreStoredInPiecesOrRefusedBySize) {
  // With 4 bytes a file in memory, both files go through a scratch file.
  WriteFile(pak() + "/fits.bin", "eight by");
  WriteFile(pak() + "/over.bin", "nine byte");
  WriteFile(pak() + "/small.bin", "abc");
  WriteFile(pak() + "/large.bin", "ten bytes!");  // too large whole, too
  host_.removeSources = true;
  store_.largest = 8;
  update::ReadAheadLimits limits;
  limits.maxFileBytes = 4;
  UpdateDialog dialog(host_, store_, progress_);
  dialog.SetReadAheadLimits(limits);
  EXPECT_EQ(Run(dialog),
            "marovetin: kept back " + pak() +
                "/large.bin: too large for a pack volume (10 bytes; a volume holds at most 8)\n"
                "marovetin: kept back " +
                pak() +
                "/over.bin: too large for a pack volume (9 bytes; a volume holds at most 8)\n");
  EXPECT_EQ(store_.stored.at("fits.bin"), "eight by");
  EXPECT_EQ(store_.stored.at("small.bin"), "abc");
  EXPECT_EQ(store_.stored.count("over.bin"), 0u);
  EXPECT_TRUE(Logged(pak() + "\\fits.bin size=8\n"));
  EXPECT_FALSE(FileExists(pak() + "/fits.bin"));
  EXPECT_TRUE(FileExists(pak() + "/over.bin"));
  EXPECT_FALSE(FileExists(install() + "/DATA.pak.marovetin-decoded"));  // the scratch file
}

TEST_F(PackUpdateTest, AFailedCommitKeepsEverySourceOfItsBatchWithTheReason) {
  WriteFile(pak() + "/a.txt", "alpha");
  WriteFile(pak() + "/b.bin", "beta");
  host_.removeSources = true;
  store_.commitResult = platform::Status::FromErrno(ENOSPC, "DATA.pak");
  UpdateDialog dialog(host_, store_, progress_);
  const std::string err = Run(dialog);
  const std::string reason =
      ": could not be stored in the pack: DATA.pak: No space left on device\n";
  EXPECT_EQ(err, "marovetin: kept back " + pak() + "/a.txt" + reason + "marovetin: kept back " +
                     pak() + "/b.bin" + reason);
  EXPECT_EQ(dialog.outcome().keptBack, 2);
  EXPECT_EQ(ReadFile(pak() + "/a.txt"), "alpha");
  EXPECT_EQ(ReadFile(pak() + "/b.bin"), "beta");
  for (const std::string& line : host_.logLines)
    EXPECT_EQ(line.find("Remove Dir"), std::string::npos);
}

TEST_F(PackUpdateTest, UnreadableFileIsKeptBackButTheBarStillMoves) {
  WriteFile(pak() + "/a.bin", "x");
  WriteFile(pak() + "/b.bin", "y");
  host_.unreadable.insert(pak() + "\\a.bin");
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  dialog.SetStateForTesting(update::UpdateState::kFindPackFiles);
  dialog.findPackFiles(0, 0);
  dialog.SetStateForTesting(update::UpdateState::kStorePackFiles);
  progress_.sent.clear();
  testing::internal::CaptureStderr();
  dialog.applyPackFile(0, 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "marovetin: kept back " + pak() + "/a.bin: cannot be read\n");
  ASSERT_EQ(progress_.sent.size(), 1u);
  EXPECT_EQ(progress_.sent[0].message, update::PBM_SETPOS);
  EXPECT_TRUE(FileExists(pak() + "/a.bin"));
  EXPECT_TRUE(store_.order.empty());
  EXPECT_EQ(host_.logLines.front(), pak() + "/a.bin kept back: cannot be read\n");
}

TEST_F(PackUpdateTest, PakHoldingOnlyEmptyDirectoriesIsLikeNone) {
  testing_support::MakeDirs(pak() + "/empty/deeper");
  UpdateDialog dialog(host_, store_, progress_);
  dialog.SetStateForTesting(update::UpdateState::kFindPackFiles);
  testing::internal::CaptureStdout();
  dialog.findPackFiles(0, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(dialog.fileList().empty());
  EXPECT_EQ(dialog.state(), update::UpdateState::kFindLooseFiles);
}

TEST_F(PackUpdateTest, SearchEmptiesTheListFirst) {
  WriteFile(pak() + "/a.bin", "x");
  UpdateDialog dialog(host_, store_, progress_);
  testing::internal::CaptureStdout();
  dialog.findPackFiles(0, 0);
  dialog.findPackFiles(0, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(dialog.fileList(), std::vector<std::string>{pak() + "\\a.bin"});
  EXPECT_EQ(dialog.fileIndex(), 0);
}

}  // namespace

// The dialog's state machine, driven one message at a time.
#include "update/update_dialog.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "test_support.h"
#include "ui/interrupt.h"
#include "update_fakes.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;
using update::UpdateDialog;
using update_testing::Pending;
using update_testing::PumpAll;
using update_testing::StateNumber;

// The dialog works in the installation, which is the current directory.
class UpdateDialogTest : public update_testing::InstallationTest {};

TEST_F(UpdateDialogTest, InitialisationMountsThePackThenPostsCheckVersionOnly) {
  host_.pack = "Other.pak";
  UpdateDialog dialog(host_, store_, progress_);
  EXPECT_TRUE(dialog.OnInitDialog());
  EXPECT_EQ(store_.mounts, std::vector<std::string>{"Other.pak"});
  EXPECT_EQ(Pending(dialog), std::vector<std::uint32_t>{update::WM_CHECKVERSION});
  EXPECT_EQ(StateNumber(dialog), 0);
}

// The library's lines go through the dialog while it lives: its progress
// lines to standard output, its waits and warnings to standard error; the
// dialog takes its sink back when it goes.
TEST_F(UpdateDialogTest, LibraryOutputGoesThroughTheDialogWhileItLives) {
  {
    UpdateDialog dialog(host_, store_, progress_);
    ASSERT_TRUE(store_.sink);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    store_.sink(pkfs::OutputStream::kOutput, "Load DATA.pak to Pkfs\n");
    store_.sink(pkfs::OutputStream::kError, "Waiting for DATA.pak: another process has it open\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Waiting for DATA.pak: another process has it open\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Load DATA.pak to Pkfs\n");
  }
  EXPECT_FALSE(store_.sink);
}

TEST_F(UpdateDialogTest, WithoutPackFilesStateOneJumpsToThreeAndTheRangeIs65535) {
  WriteFile(work() + "/a.txt", "A");
  UpdateDialog dialog(host_, store_, progress_);
  dialog.PostMessage(update::WM_CHANGESTATE, 1);
  dialog.PumpMessage();  // change-state: 0 -> 1
  EXPECT_EQ(StateNumber(dialog), 1);
  EXPECT_EQ(Pending(dialog), std::vector<std::uint32_t>{update::WM_FINDADDDATAINPAKFILE});

  dialog.PumpMessage();  // the pack search finds nothing
  EXPECT_EQ(StateNumber(dialog), 3);
  ASSERT_EQ(dialog.queue().size(), 1u);
  EXPECT_EQ(dialog.queue().pending().front().message, update::WM_CHANGESTATE);
  EXPECT_EQ(dialog.queue().pending().front().wParam, 0u);
  ASSERT_EQ(progress_.sent.size(), 2u);
  EXPECT_EQ(progress_.sent[0].message, update::PBM_SETRANGE);
  EXPECT_EQ(progress_.sent[0].lParam, static_cast<ui::LParam>(0xFFFF0000u));
  EXPECT_EQ(progress_.maximum(), 65535);

  std::vector<int> states;
  PumpAll(dialog, &states);
  for (int s : states) EXPECT_NE(s, 2);
  EXPECT_EQ(StateNumber(dialog), 5);
  EXPECT_TRUE(store_.order.empty());
  EXPECT_EQ(ReadFile(install() + "/a.txt"), "A");
  // The normal-data search replaced the range at once.
  EXPECT_EQ(progress_.maximum(), 0);
}

TEST_F(UpdateDialogTest, ChangeStateWithAnyWParamButOneStays) {
  for (ui::WParam w : {ui::WParam{0}, ui::WParam{2}, ui::WParam{7}}) {
    UpdateDialog dialog(host_, store_, progress_);
    dialog.SetStateForTesting(static_cast<update::UpdateState>(2));
    testing::internal::CaptureStdout();
    dialog.OnChangeState(w, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WM_UPDATEADDDATAINPAK\n") << w;
    EXPECT_EQ(StateNumber(dialog), 2);
    EXPECT_EQ(Pending(dialog), std::vector<std::uint32_t>{update::WM_UPDATEADDDATAINPAK});
  }
}

TEST_F(UpdateDialogTest, EachStatePostsItsMessage) {
  const std::vector<std::pair<std::uint32_t, std::string>> table = {
      {update::WM_FINDADDDATAINPAKFILE, "WM_FINDADDDATAINPAKFILE\n"},
      {update::WM_UPDATEADDDATAINPAK, "WM_UPDATEADDDATAINPAK\n"},
      {update::WM_FINDNORMALDATA, "WM_FINDNORMALDATA\n"},
      {update::WM_UPDATENORMALDATA, "WM_UPDATENORMALDATA\n"},
      {update::WM_QUIT, "WM_QUIT\n"},
  };
  UpdateDialog dialog(host_, store_, progress_);
  for (std::size_t i = 0; i < table.size(); ++i) {
    testing::internal::CaptureStdout();
    dialog.OnChangeState(1, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Change State!!\n" + table[i].second);
    EXPECT_EQ(StateNumber(dialog), static_cast<int>(i + 1));
    EXPECT_EQ(Pending(dialog), std::vector<std::uint32_t>{table[i].first});
    dialog.queue().PumpOne([](const ui::Message&) {});
  }
}

TEST_F(UpdateDialogTest, ChangeStateBeyondFivePostsNothing) {
  UpdateDialog dialog(host_, store_, progress_);
  dialog.SetStateForTesting(static_cast<update::UpdateState>(5));
  testing::internal::CaptureStdout();
  dialog.OnChangeState(1, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Change State!!\n");
  EXPECT_EQ(StateNumber(dialog), 6);
  EXPECT_TRUE(dialog.queue().empty());

  testing::internal::CaptureStdout();
  dialog.OnChangeState(0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(dialog.queue().empty());
}

TEST_F(UpdateDialogTest, CancelCommandIsSwallowedAndTheMachineRunsOn) {
  WriteFile(work() + "/Pak/x.bin", "X");
  WriteFile(work() + "/b.txt", "B");
  UpdateDialog dialog(host_, store_, progress_);
  dialog.OnInitDialog();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(dialog.OnCommand(update::IDCANCEL, 0));
  // A close request in the middle of the run: queued behind the work.
  dialog.PumpMessage();
  dialog.PostMessage(update::WM_COMMAND, update::IDCANCEL);
  PumpAll(dialog);
  // The user is told why, once, however often they ask.
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string("marovetin: ") + update::kCannotStopMessage + "\n");
  EXPECT_EQ(StateNumber(dialog), 5);
  EXPECT_TRUE(dialog.queue().ending());  // ended by the quit message only
  EXPECT_EQ(store_.stored.at("x.bin"), "X");
  EXPECT_EQ(ReadFile(install() + "/b.txt"), "B");
}

TEST_F(UpdateDialogTest, CtrlCDuringTheModalRunDoesNotStopIt) {
#ifdef _WIN32
  GTEST_SKIP() << "Ctrl-C is a console event on Windows, not a signal raise() can send";
#else
  WriteFile(work() + "/c.txt", "C");
  ui::CloseRequestGuard guard;
  std::raise(SIGINT);  // recorded, not fatal
  UpdateDialog dialog(host_, store_, progress_);
  testing::internal::CaptureStdout();
  int result = dialog.DoModal();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, ui::kModalQuit);
  EXPECT_EQ(StateNumber(dialog), 5);
  EXPECT_EQ(ReadFile(install() + "/c.txt"), "C");
  EXPECT_NE(out.find("WM_QUIT\n"), std::string::npos);
  EXPECT_FALSE(ui::TakeCloseRequest());  // delivered to the dialog
#endif
}

TEST_F(UpdateDialogTest, SmallRunPrintsTheExactDebugLines) {
  WriteFile(work() + "/Pak/sub/a.txt", "pack");
  WriteFile(work() + "/b.txt", "loose");
  UpdateDialog dialog(host_, store_, progress_);
  testing::internal::CaptureStdout();
  dialog.DoModal();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string w = work();
  const std::string apply = "Update Normal Data!\nFileSize is 3\n";
  EXPECT_EQ(out,
            "Change State!!\nWM_FINDADDDATAINPAKFILE\n"
            "FindAddDataInPakFile\n" +
                w + "\n" + w + "/Pak\n" + "Change State!!\nWM_UPDATEADDDATAINPAK\n" + w + "\n" + w +
                "/Pak\n" +
                "Change State!!\nWM_FINDNORMALDATA\n"
                "FindNormalDataFile\nFileSize is 3\n"
                "Change State!!\nWM_UPDATENORMALDATA\n" +
                apply + "WM_UPDATENORMALDATA\n" + apply + "WM_UPDATENORMALDATA\n" + apply +
                "Change State!!\nWM_QUIT\n");
  // The pack entry stays in the list, ahead of the work path's own files.
  ASSERT_EQ(dialog.fileList().size(), 3u);
  EXPECT_EQ(dialog.fileList()[0], w + "/Pak\\sub\\a.txt");
  EXPECT_EQ(dialog.fileList()[1], w + "\\b.txt");
  EXPECT_EQ(dialog.fileList()[2], w + "\\Pak\\sub\\a.txt");
  EXPECT_EQ(store_.stored.at("sub\\a.txt"), "pack");
  EXPECT_EQ(dialog.outcome().keptBack, 0);
  EXPECT_FALSE(dialog.outcome().refused);
}

TEST_F(UpdateDialogTest, BarRangeAndPositionsFollowTheFiles) {
  WriteFile(work() + "/a.txt", "1");
  WriteFile(work() + "/b.txt", "2");
  WriteFile(work() + "/c.txt", "3");
  UpdateDialog dialog(host_, store_, progress_);
  dialog.OnInitDialog();
  PumpAll(dialog);
  std::vector<std::pair<std::uint32_t, long long>> seen;
  for (const auto& m : progress_.sent) {
    seen.emplace_back(m.message, m.message == update::PBM_SETRANGE
                                     ? static_cast<long long>(m.lParam)
                                     : static_cast<long long>(m.wParam));
  }
  const std::vector<std::pair<std::uint32_t, long long>> expected = {
      {update::PBM_SETRANGE, 0xFFFF0000LL},
      {update::PBM_SETPOS, 0},  // empty pack search
      {update::PBM_SETRANGE, 2LL << 16},
      {update::PBM_SETPOS, 0},  // three loose files
      {update::PBM_SETPOS, 0},
      {update::PBM_SETPOS, 1},
      {update::PBM_SETPOS, 2}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(progress_.position(), progress_.maximum());
  // The view counts the stage's files itself, beside the 16-bit range.
  EXPECT_EQ(progress_.BarText().substr(41), "] 100% files 3/3");
}

TEST_F(UpdateDialogTest, EmptyListInStateFourTakesNoEntryAndEnds) {
  UpdateDialog dialog(host_, store_, progress_);
  dialog.OnInitDialog();
  std::vector<int> states;
  testing::internal::CaptureStdout();
  PumpAll(dialog, &states);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(StateNumber(dialog), 5);
  EXPECT_TRUE(host_.loaded.empty());
  EXPECT_NE(out.find("Update Normal Data!\nFileSize is 0\nChange State!!\nWM_QUIT\n"),
            std::string::npos);
  EXPECT_TRUE(dialog.queue().ending());
}

TEST_F(UpdateDialogTest, StepDonePumpsOneMessageInsideTheHandler) {
  WriteFile(work() + "/a.txt", "1");
  WriteFile(work() + "/b.txt", "2");
  UpdateDialog dialog(host_, store_, progress_);
  dialog.SetStateForTesting(static_cast<update::UpdateState>(3));
  dialog.findNormalFiles(0, 0);
  dialog.queue().PumpOne([](const ui::Message&) {});  // WM_STEPDONE
  dialog.queue().PumpOne([](const ui::Message&) {});  // WM_CHANGESTATE(1)
  dialog.SetStateForTesting(static_cast<update::UpdateState>(4));
  // Something already waiting is what the pump inside the handler takes.
  dialog.PostMessage(update::WM_CHANGESTATE, 0);
  dialog.applyNormalFile(0, 0);
  EXPECT_EQ(dialog.fileIndex(), 1);
  // The earlier change-state was dispatched (posting WM_UPDATENORMALDATA);
  // the step-done waits behind it, then the handler's own change-state.
  EXPECT_EQ(Pending(dialog),
            (std::vector<std::uint32_t>{update::WM_STEPDONE, update::WM_UPDATENORMALDATA,
                                        update::WM_CHANGESTATE}));
}

}  // namespace

// The version gate: the verdict rule and what the check reads.
#include "update/version_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "update/update_dialog.h"
#include "update_fakes.h"

namespace {

using testing_support::ReadFile;
using testing_support::WriteFile;
using update::UpdateDialog;
using update::VersionAllowsUpdate;
using update_testing::Pending;

constexpr char kTooOld[] =
    "marovetin: The client is too old, please download an appropriate file to update.\n";

std::string Le32(std::uint32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return bytes;
}

TEST(VersionVerdictTest, RefusesOnlyBelowTheFirstPatchValue) {
  EXPECT_FALSE(VersionAllowsUpdate(4, 5, 9));
  EXPECT_TRUE(VersionAllowsUpdate(5, 5, 9));
  EXPECT_TRUE(VersionAllowsUpdate(7, 5, 9));
  EXPECT_TRUE(VersionAllowsUpdate(9, 5, 9));   // already at the target
  EXPECT_TRUE(VersionAllowsUpdate(12, 5, 9));  // past it
  EXPECT_TRUE(VersionAllowsUpdate(0, 0, 0));
}

TEST(VersionVerdictTest, ComparesUnsigned) {
  // An index stored as -1 reads as the largest unsigned value.
  EXPECT_TRUE(VersionAllowsUpdate(0xFFFFFFFFu, 5, 9));
  EXPECT_FALSE(VersionAllowsUpdate(1, 0x80000000u, 0x80000001u));
}

class VersionCheckTest : public update_testing::InstallationTest {
 protected:
  VersionCheckTest() { host_.verify = true; }

  void WritePatch(std::uint32_t first, std::uint32_t second) {
    WriteFile(root_.Join("install/Patch.dat"), Le32(first) + Le32(second));
  }
  void WriteIndex(const std::string& bytes) {
    WriteFile(root_.Join("install/UpdateSetting/UpdateIndex.dat"), bytes);
  }

  // Runs the gate's handler and returns what it wrote to standard error;
  // standard output goes to *out.
  std::string RunGate(UpdateDialog& dialog, std::string* out) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    dialog.OnCheckVersion(0, 0);
    *out = testing::internal::GetCapturedStdout();
    return testing::internal::GetCapturedStderr();
  }

  static bool PostedAdvance(UpdateDialog& dialog) {
    return Pending(dialog) == std::vector<std::uint32_t>{update::WM_CHANGESTATE} &&
           dialog.queue().pending().front().wParam == 1;
  }
};

TEST_F(VersionCheckTest, WithoutTheOptionNothingIsReadAndTheUpdateStarts) {
  host_.verify = false;  // and neither file exists
  UpdateDialog dialog(host_, store_, progress_);
  std::string out;
  EXPECT_EQ(RunGate(dialog, &out), "");
  EXPECT_EQ(out, "");
  EXPECT_TRUE(PostedAdvance(dialog));
}

TEST_F(VersionCheckTest, ClientAtOrPastTheFirstValueGoesOn) {
  WritePatch(5, 9);
  for (std::uint32_t index : {5u, 9u, 12u}) {
    WriteIndex(Le32(index));
    UpdateDialog dialog(host_, store_, progress_);
    std::string out;
    EXPECT_EQ(RunGate(dialog, &out), "") << index;
    EXPECT_EQ(out, "CheckVersion!\n");
    EXPECT_TRUE(PostedAdvance(dialog));
    EXPECT_EQ(dialog.patchValue1(), 5u);
    EXPECT_EQ(dialog.patchValue2(), 9u);
    EXPECT_FALSE(dialog.outcome().refused);
  }
}

TEST_F(VersionCheckTest, TooOldClientIsRefusedAndTheDialogEndsCancelled) {
  WritePatch(5, 9);
  WriteIndex(Le32(4));
  UpdateDialog dialog(host_, store_, progress_);
  std::string out;
  EXPECT_EQ(RunGate(dialog, &out), kTooOld);
  EXPECT_EQ(out, "CheckVersion!\n");
  EXPECT_TRUE(dialog.queue().empty());
  EXPECT_TRUE(dialog.queue().ending());
  EXPECT_TRUE(dialog.outcome().refused);
}

TEST_F(VersionCheckTest, RefusedRunChangesNothing) {
  WritePatch(5, 9);
  WriteIndex(Le32(4));
  WriteFile(root_.Join("install/update/Pak/a.txt"), "pack");
  WriteFile(root_.Join("install/update/b.txt"), "loose");
  host_.removeSources = true;
  UpdateDialog dialog(host_, store_, progress_);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int result = dialog.DoModal();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kTooOld);
  EXPECT_EQ(result, update::IDCANCEL);
  EXPECT_EQ(dialog.state(), update::UpdateState::kCheckVersion);
  EXPECT_TRUE(store_.order.empty());
  EXPECT_TRUE(host_.loaded.empty());
  EXPECT_EQ(ReadFile(root_.Join("install/update/Pak/a.txt")), "pack");
  EXPECT_EQ(ReadFile(root_.Join("install/update/b.txt")), "loose");
  EXPECT_FALSE(testing_support::FileExists(root_.Join("install/b.txt")));
}

TEST_F(VersionCheckTest, MissingPatchIsNamedThenRefused) {
  WriteIndex(Le32(100));
  UpdateDialog dialog(host_, store_, progress_);
  std::string out;
  EXPECT_EQ(RunGate(dialog, &out), std::string("marovetin: Can't Find Patch.dat\n") + kTooOld);
  EXPECT_EQ(out, "CheckVersion!\n");
  EXPECT_TRUE(dialog.outcome().refused);
}

TEST_F(VersionCheckTest, ValuesThatWereNotReadAreNotUsed) {
  // A patch of 7 bytes: the second value is incomplete.
  WriteFile(root_.Join("install/Patch.dat"), Le32(0) + std::string(3, '\0'));
  WriteIndex(Le32(100));
  {
    UpdateDialog dialog(host_, store_, progress_);
    std::string out;
    EXPECT_EQ(RunGate(dialog, &out),
              std::string("marovetin: Patch.dat holds 7 bytes, fewer than the 8 of its two "
                          "values; the update cannot be checked\n") +
                  kTooOld);
    EXPECT_TRUE(dialog.outcome().refused);
    EXPECT_EQ(dialog.patchValue1(), 0u);
  }
  WritePatch(0, 0);
  WriteIndex(std::string(3, '\x7f'));  // too short for an index
  {
    UpdateDialog dialog(host_, store_, progress_);
    std::string out;
    std::string err = RunGate(dialog, &out);
    EXPECT_EQ(err, "marovetin: " + root_.Join("install/UpdateSetting/UpdateIndex.dat") +
                       " holds 3 bytes, fewer than the 4 of the update index; the installed "
                       "version cannot be checked\n" +
                       kTooOld);
    EXPECT_TRUE(dialog.outcome().refused);
  }
  testing_support::WriteFile(root_.Join("install/UpdateSetting/keep"), "");
  std::remove(root_.Join("install/UpdateSetting/UpdateIndex.dat").c_str());
  {
    UpdateDialog dialog(host_, store_, progress_);
    std::string out;
    std::string err = RunGate(dialog, &out);
    EXPECT_EQ(err, "marovetin: " + root_.Join("install/UpdateSetting/UpdateIndex.dat") +
                       " does not exist; the installed version cannot be checked\n" + kTooOld);
    EXPECT_TRUE(dialog.outcome().refused);
  }
}

TEST_F(VersionCheckTest, PatchComesFromTheCurrentDirectoryAndTheIndexFromTheInstallation) {
  // Patch.dat beside the index does not count.
  WriteFile(root_.Join("install/UpdateSetting/Patch.dat"), Le32(1) + Le32(2));
  WriteIndex(Le32(3));
  {
    UpdateDialog dialog(host_, store_, progress_);
    std::string out;
    EXPECT_NE(RunGate(dialog, &out).find("Can't Find Patch.dat"), std::string::npos);
  }
  // The index is read below the recorded installation directory, which need
  // not be the current directory.
  WritePatch(1, 2);
  host_.current = root_.Join("elsewhere");
  WriteFile(root_.Join("elsewhere/UpdateSetting/UpdateIndex.dat"), Le32(0));
  {
    UpdateDialog dialog(host_, store_, progress_);
    std::string out;
    EXPECT_EQ(RunGate(dialog, &out), kTooOld);
  }
}

}  // namespace

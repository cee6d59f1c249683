// The desktop window's fallback: with standard error not a terminal and no
// display to show a window on (none named, or one named where nothing
// answers, which loads GTK where it is installed and has it refuse), a run is
// the run it always was: the same output, status and files as a run with
// windows refused, for an update and for a refusal's message box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "update_e2e_support.h"

namespace {

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;
using update_e2e::StripClock;
using update_e2e::TreeSnapshot;

struct Outcome {
  RunResult run;
  std::map<std::string, std::string> files;
};

// A fresh installation with a delivered update (and, for the refusal, a
// Patch.dat that asks for a newer client), run with the given environment.
Outcome RunIn(const std::vector<std::string>& arguments, const std::vector<std::string>& env) {
  TempDir dir;
  for (int i = 0; i < 20; ++i) {
    WriteFile(dir.Join("update/Pak/maps/m" + std::to_string(i) + ".txt"),
              "pack " + std::to_string(i));
    WriteFile(dir.Join("update/data/f" + std::to_string(i) + ".dat"), "loose " + std::to_string(i));
  }
  WriteFile(dir.Join("Patch.dat"), std::string("\x05\0\0\0\0\0\0\0", 8));
  WriteFile(dir.Join("UpdateSetting/UpdateIndex.dat"), std::string("\x01\0\0\0", 4));
  std::vector<std::string> environment = env;
  environment.push_back("MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName());
  Outcome outcome;
  outcome.run = testing_support::RunProgram(testing_support::MarovetinBinary(), arguments,
                                            dir.path(), environment);
  // Each run has an installation of its own, and the output names it.
  outcome.run.out = StripClock(outcome.run.out);
  for (std::size_t at; (at = outcome.run.out.find(dir.path())) != std::string::npos;) {
    outcome.run.out.replace(at, dir.path().size(), "<installation>");
  }
  outcome.files = TreeSnapshot(dir.path());
  return outcome;
}

TEST(DesktopFallbackTest, WithoutADisplayTheRunIsTheRunWithoutWindows) {
#ifdef _WIN32
  GTEST_SKIP() << "the desktop window rules are those of Linux desktops";
#endif
  // Names alone unset: windows are not refused here.
  const std::vector<std::vector<std::string>> noDisplay = {
      {"MAROVETIN_NO_WINDOW", "DISPLAY", "WAYLAND_DISPLAY"},
      // GTK's own allocations on a display that refused stay out of a
      // sanitized build's leak report.
      {"MAROVETIN_NO_WINDOW", "DISPLAY=:64999", "WAYLAND_DISPLAY", "ASAN_OPTIONS=detect_leaks=0"},
  };
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"-sw", "update", "-df"}, std::vector<std::string>{"-v"}}) {
    const Outcome expected = RunIn(arguments, {});
    for (const std::vector<std::string>& env : noDisplay) {
      SCOPED_TRACE(arguments[0] + " with " + env[1]);
      const Outcome actual = RunIn(arguments, env);
      EXPECT_EQ(actual.run.exitStatus, expected.run.exitStatus);
      EXPECT_EQ(actual.run.out, expected.run.out);
      EXPECT_EQ(actual.run.err, expected.run.err);
      EXPECT_EQ(actual.files, expected.files);
    }
  }
  // The refusal was a message box: its line is all there is on standard error.
  EXPECT_EQ(RunIn({"-v"}, {}).run.err,
            "marovetin: The client is too old, please download an appropriate file to update.\n");
}

}  // namespace

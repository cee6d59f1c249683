// Arbitrary argument vectors through option matching and the whole start-up,
// with the update run replaced by a stub: option positions follow the
// matching rule, the stub sees a work path without "\", and the exit status is
// one of the four the launcher defines and agrees with what the run did.
//
// Input: the arguments separated by zero bytes (the first is the program
// path), after one byte of settings. "/" and "\" in arguments become "_", so
// that every file a utility mode or the log writes stays in the scratch
// directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "launcher/launcher_app.h"
#include "launcher/option_table.h"
#include "launcher/usage.h"

namespace {

constexpr std::size_t kMaxArguments = 24;  // positions stay within 8 bits

void CheckOptionPositions(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  const launcher::CommandLine line =
      launcher::CommandLine::Parse(static_cast<int>(argv.size()), argv.data());
  std::size_t expected[launcher::OptionTable::kRowCount] = {};
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (auto option = launcher::OptionTable::Match(arguments[i])) {
      expected[static_cast<int>(*option)] = i;  // a later occurrence wins
    }
  }
  for (int row = 0; row < launcher::OptionTable::kRowCount; ++row) {
    FUZZ_CHECK(line.optionIndex()[row] == expected[row], "an option's position is its last match");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStandardOutput();
  // A block of this process's own, so that runs never meet another process's.
  static const std::string shmName =
      "marovetin-fuzz-" + std::filesystem::path(fuzz::CleanScratchDirectory()).filename().string();
#ifdef _WIN32
  _putenv_s("MAROVETIN_SHM_NAME", shmName.c_str());
#else
  setenv("MAROVETIN_SHM_NAME", shmName.c_str(), 1);
#endif
  std::filesystem::current_path(fuzz::CleanScratchDirectory());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  const std::uint8_t settings = input.U8();
  std::vector<std::string> arguments;
  while (!input.empty() && arguments.size() < kMaxArguments) {
    std::string argument = input.Until(std::string(1, '\0'));
    for (char& c : argument) {
      if (c == '/' || c == '\\') c = '_';
    }
    arguments.push_back(argument);
  }
  CheckOptionPositions(arguments);

  const std::string& scratch = fuzz::CleanScratchDirectory();
  std::error_code ignored;
  if (settings & 1) std::filesystem::create_directory(scratch + "/UpdateSetting", ignored);

  bool updateRan = false;
  update::UpdateOutcome stubOutcome;
  stubOutcome.refused = (settings & 2) != 0;
  stubOutcome.keptBack = (settings & 4) != 0 ? 1 : 0;
  launcher::LauncherApp app;
  app.setUpdateRunner([&](update::UpdateHost& host) {
    updateRan = true;
    FUZZ_CHECK(host.workPath().find('\\') == std::string::npos, "the work path has no \\");
    return stubOutcome;
  });
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  app.InitInstance(static_cast<int>(argv.size()), argv.data());
  const int status = app.ExitInstance();

  FUZZ_CHECK(status == launcher::kExitCompleted || status == launcher::kExitFilesKeptBack ||
                 status == launcher::kExitVersionRefused || status == launcher::kExitUsage,
             "the exit status is one of the four");
  if (arguments.size() <= 1) FUZZ_CHECK(!updateRan && status == 0, "no arguments: nothing runs");
  if (updateRan) {
    const int expected = stubOutcome.refused    ? launcher::kExitVersionRefused
                         : stubOutcome.keptBack ? launcher::kExitFilesKeptBack
                                                : launcher::kExitCompleted;
    FUZZ_CHECK(status == expected, "an update run's status follows its outcome");
  }
  if (status == launcher::kExitUsage) FUZZ_CHECK(!updateRan, "a usage error runs nothing");
  return 0;
}

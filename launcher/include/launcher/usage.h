// "--help" and "--version": the two arguments handled apart from the option
// table, before anything else is touched.
#ifndef MAROVETIN_LAUNCHER_USAGE_H_
#define MAROVETIN_LAUNCHER_USAGE_H_

#include <string>

#include "launcher/option_table.h"

namespace launcher {

// The exit statuses of the launcher process.
enum ExitStatus : int {
  kExitCompleted = 0,
  kExitFilesKeptBack = 1,  // also: a utility mode's file could not be opened
  kExitVersionRefused = 2,
  kExitUsage = 64,
};

enum class InfoRequest { kNone, kHelp, kVersion };

// The first argument after the program path that is exactly "--help" or
// "--version".
InfoRequest FindInfoRequest(int argc, const char* const* argv);

// "-q" or "--quiet": the debug lines on standard output are left out. Not one
// of the ten options: it changes nothing that the run does.
bool IsQuietArgument(const char* argument);
bool QuietRequested(int argc, const char* const* argv);

std::string HelpText();
std::string VersionText();

// The message for an option that is not followed by all of its values.
std::string MissingValueMessage(Option option);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_USAGE_H_

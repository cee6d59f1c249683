// The pkfs command line: one command, its options and its operands.
#ifndef PKFSTOOL_COMMAND_LINE_H_
#define PKFSTOOL_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace pkfstool {

// Exit statuses of the tool.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,  // a failure, named on standard error with its reason
  kExitUsage = 64,   // a command line that cannot be used
};

struct Invocation {
  enum class Info { kNone, kHelp, kVersion } info = Info::kNone;
  std::string command;                // "ls", "cat", "extract", "add", "rm", ...
  bool longListing = false;           // ls -l
  std::string directory;              // -C DIR (extract, add); empty when not given
  std::vector<std::string> rules;     // add: --rule EXT, in order
  bool rulesGiven = false;            // add: --rule or --no-rules replaced the defaults
  bool salvage = false;               // compact --salvage
  std::vector<std::string> operands;  // SET first, then names or paths
};

struct ParseResult {
  Invocation invocation;
  std::string error;  // empty when the command line can be used
};

// Reads argv[1..argc-1]. "--help" or "--version" anywhere wins over
// everything else; options may stand anywhere after the command, and "--"
// ends them.
ParseResult ParseCommandLine(int argc, const char* const* argv);

// The name rules add uses unless told otherwise: the updater's.
std::vector<std::string> DefaultRules();

std::string HelpText();
std::string VersionText();
// The message for an unusable command line, with the pointer to --help.
std::string UsageError(const std::string& error);

}  // namespace pkfstool

#endif  // PKFSTOOL_COMMAND_LINE_H_

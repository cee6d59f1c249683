// The marovetin-mkupdate command line: the options, the three directories,
// and the texts of --help and --version.
#ifndef MKUPDATE_COMMAND_LINE_H_
#define MKUPDATE_COMMAND_LINE_H_

#include <string>

namespace mkupdate {

// Exit statuses of the program.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,         // a failure, named on standard error with its reason
  kExitNotExpressible = 3,  // the update is made, but it cannot say everything NEW changed
  kExitUsage = 64,          // a command line that cannot be used
};

struct Options {
  enum class Info { kNone, kHelp, kVersion } info = Info::kNone;
  bool compress = false;              // -dc: payloads are bzip2 streams
  bool invert = false;                // -de: payloads have every byte inverted
  std::string packName = "DATA.pak";  // -sp: the set's first volume, below the installation
  unsigned jobs = 0;                  // -j: workers; 0 for one per processor
  bool quiet = false;                 // -q: no summary and no progress bar
  std::string oldDir;
  std::string newDir;
  std::string outDir;
};

struct ParseResult {
  Options options;
  std::string error;  // empty when the command line can be used
};

// Reads argv[1..argc-1]. "--help" or "--version" anywhere wins; options may
// stand anywhere, and "--" ends them.
ParseResult ParseCommandLine(int argc, const char* const* argv);

std::string HelpText();
std::string VersionText();
// The message for an unusable command line, with the pointer to --help.
std::string UsageError(const std::string& error);

}  // namespace mkupdate

#endif  // MKUPDATE_COMMAND_LINE_H_

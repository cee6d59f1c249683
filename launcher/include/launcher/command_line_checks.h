// Checks of a command line before anything is touched: arguments that match
// nothing, and work paths whose update would damage the installation.
#ifndef MAROVETIN_LAUNCHER_COMMAND_LINE_CHECKS_H_
#define MAROVETIN_LAUNCHER_COMMAND_LINE_CHECKS_H_

#include <string>
#include <vector>

#include "launcher/option_table.h"
#include "platform/env.h"

namespace launcher {

// The arguments after the program path that match no option and are no
// option's value, each once, in the order first given. They are ignored, as
// they always were; the caller names them so that a typo ("-sw=update") does
// not go unnoticed.
std::vector<std::string> UnknownArguments(const CommandLine& line);

// "marovetin: ignoring unknown argument ARG\n".
std::string UnknownArgumentMessage(const std::string& argument);

// True when the command line runs the update (neither utility mode).
bool RunsUpdate(const CommandLine& line);

// Why the update this command line asks for must not run, as the message to
// print, or empty when it may run:
// - "-dc" or "-de" without "-sw" (or with a work path that is the
//   installation itself): every installation file would be decoded in place;
// - a work path that contains the installation directory ("-sw .."): the
//   installation would be copied into itself and, under "-df", deleted;
// - a work path outside the installation (also through a symbolic link or an
//   absolute path): "-df" would delete what lies elsewhere.
// currentDir is the installation. Looks at the file system, changes nothing.
std::string UnsafeWorkPathRefusal(const CommandLine& line, const std::string& currentDir);

// The value of "-sw" as the update uses it, below the installation: an
// absolute path inside the installation becomes its relative form, anything
// else stays as given.
std::string WorkPathValue(const CommandLine& line, const std::string& currentDir);

// Why the value of "-sv" cannot be written (the message to print), or empty:
// only a decimal number from 0 to 4294967295 is an update index.
std::string UpdateIndexValueRefusal(const CommandLine& line);

// Why the places the command line names for the pack and the log must not be
// used (the message to print), or empty:
// - a "-log" file that is a pack volume of the installation (packName's set
//   or the default one): log lines would be written into the volume;
// - a "-sp" volume inside the work path: the update would apply the volume
//   as an update file and, under "-df", delete it.
// Files are identified through env.
std::string PackPlaceRefusal(const CommandLine& line, const std::string& currentDir,
                             const std::string& packName, platform::Env* env);

// The work path that "-sw" names when it does not exist (the message to print,
// "nothing to apply: ... does not exist"), or empty.
std::string MissingWorkPathMessage(const CommandLine& line, const std::string& workPath);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_COMMAND_LINE_CHECKS_H_

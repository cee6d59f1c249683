// The pkfs commands. Each takes the parsed command line, writes its output
// to standard output and its failures to standard error, and returns the
// exit status.
#ifndef PKFSTOOL_COMMANDS_H_
#define PKFSTOOL_COMMANDS_H_

#include <string>

#include "pkfstool/command_line.h"
#include "platform/status.h"

namespace pkfstool {

int RunList(const Invocation& invocation);
int RunCat(const Invocation& invocation);
int RunInfo(const Invocation& invocation);
int RunExtract(const Invocation& invocation);
int RunAdd(const Invocation& invocation);
int RunRemove(const Invocation& invocation);
int RunVerify(const Invocation& invocation);
int RunCompact(const Invocation& invocation);

// The whole program: parses argv, runs the command, returns the exit status.
int RunTool(int argc, const char* const* argv);

class PackSet;

// The status of a command that read set: kExitFailure when a volume's
// directory did not match its checksum (the load warned of it).
int AfterReading(const PackSet& set);

// "pkfs: file: reason" on standard error; returns kExitFailure.
int Fail(const platform::Status& status);
int Fail(const std::string& message);

}  // namespace pkfstool

#endif  // PKFSTOOL_COMMANDS_H_

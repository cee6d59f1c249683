// The pkfs commands. Each takes the parsed command line and the Env that
// the sets' files are reached through, writes its output to standard output
// and its failures to standard error, and returns the exit status.
#ifndef PKFSTOOL_COMMANDS_H_
#define PKFSTOOL_COMMANDS_H_

#include <string>

#include "pkfstool/command_line.h"
#include "platform/env.h"
#include "platform/status.h"

namespace pkfstool {

int RunList(const Invocation& invocation, platform::Env* env);
int RunCat(const Invocation& invocation, platform::Env* env);
int RunInfo(const Invocation& invocation, platform::Env* env);
int RunExtract(const Invocation& invocation, platform::Env* env);
int RunAdd(const Invocation& invocation, platform::Env* env);
int RunRemove(const Invocation& invocation, platform::Env* env);
int RunVerify(const Invocation& invocation, platform::Env* env);
int RunCompact(const Invocation& invocation, platform::Env* env);

// The whole program: parses argv, runs the command, returns the exit status.
// The sets' files are reached through env.
int RunTool(int argc, const char* const* argv, platform::Env* env = platform::Env::Default());

class PackSet;

// The status of a command that read set: kExitFailure when a volume's
// directory did not match its checksum (the load warned of it).
int AfterReading(const PackSet& set);

// "pkfs: file: reason" on standard error; returns kExitFailure.
int Fail(const platform::Status& status);
int Fail(const std::string& message);

}  // namespace pkfstool

#endif  // PKFSTOOL_COMMANDS_H_

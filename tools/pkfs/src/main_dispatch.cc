// From the command line to the command that runs.
#include <cstdio>

#include "pkfstool/commands.h"

namespace pkfstool {

int Fail(const platform::Status& status) { return Fail(status.ToString()); }

int Fail(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "pkfs: %s\n", message.c_str());
  return kExitFailure;
}

int RunTool(int argc, const char* const* argv, platform::Env* env) {
  const ParseResult parsed = ParseCommandLine(argc, argv);
  const Invocation& invocation = parsed.invocation;
  if (invocation.info == Invocation::Info::kHelp) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (invocation.info == Invocation::Info::kVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return kExitOk;
  }
  if (!parsed.error.empty()) {
    std::fputs(UsageError(parsed.error).c_str(), stderr);
    return kExitUsage;
  }
  struct {
    const char* name;
    int (*run)(const Invocation&, platform::Env*);
  } const commands[] = {
      {"ls", RunList}, {"cat", RunCat},   {"info", RunInfo},     {"extract", RunExtract},
      {"add", RunAdd}, {"rm", RunRemove}, {"verify", RunVerify}, {"compact", RunCompact},
  };
  for (const auto& command : commands) {
    if (invocation.command == command.name) {
      const int status = command.run(invocation, env);
      if (std::fflush(stdout) != 0 && status == kExitOk)
        return Fail("standard output: write error");
      return status;
    }
  }
  std::fputs(UsageError("unknown command '" + invocation.command + "'").c_str(), stderr);
  return kExitUsage;
}

}  // namespace pkfstool

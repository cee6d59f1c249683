// The process's one application object, built before main runs, and the
// program that runs on it.
#include <cstdio>

#include "launcher/launcher_app.h"
#include "platform/standard_streams.h"

namespace launcher {

LauncherApp theApp;

int RunProgram(int argc, const char* const* argv, platform::Env* env) {
  // Standard output that goes to a file or a pipe leaves in large writes: a
  // run prints lines for every file it applies.
  if (!platform::StandardOutputIsTerminal()) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  theApp.setEnv(env);
  theApp.InitInstance(argc, argv);
  return theApp.ExitInstance();
}

}  // namespace launcher

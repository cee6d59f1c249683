// The launcher process: the start-up routine does all of the work, the exit
// routine gives the exit status.
#include <cstdio>

#include "launcher/launcher_app.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
  // Standard output that goes to a file or a pipe leaves in large writes: a
  // run prints lines for every file it applies.
  if (!platform::StandardOutputIsTerminal()) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  launcher::theApp.InitInstance(argc, argv);
  return launcher::theApp.ExitInstance();
}

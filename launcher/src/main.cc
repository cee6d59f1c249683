// The launcher process: the start-up routine does all of the work, the exit
// routine gives the exit status.
#include "launcher/launcher_app.h"

int main(int argc, char** argv) {
  launcher::theApp.InitInstance(argc, argv);
  return launcher::theApp.ExitInstance();
}

// The launcher process, on the operating system's files.
#include "launcher/launcher_app.h"
#include "platform/env.h"

int main(int argc, char** argv) {
  return launcher::RunProgram(argc, argv, platform::Env::Default());
}

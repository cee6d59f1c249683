// The process's one application object, built before main runs.
#include "launcher/launcher_app.h"

namespace launcher {

LauncherApp theApp;

}  // namespace launcher

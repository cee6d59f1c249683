// Standard streams for command-line tools.
#include "platform/standard_streams.h"

#include <unistd.h>

namespace platform {

bool StandardErrorIsTerminal() { return ::isatty(2) == 1; }

bool StandardOutputIsTerminal() { return ::isatty(1) == 1; }

}  // namespace platform

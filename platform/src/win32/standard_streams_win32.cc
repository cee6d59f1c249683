// Standard streams for command-line tools, through the C runtime.
#include <io.h>

#include <cstdio>

#include "platform/standard_streams.h"

namespace platform {

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

bool StandardOutputIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

}  // namespace platform

// The process's standard streams as a command-line tool needs them: whether
// error output goes to a terminal (for a progress bar).
#ifndef MAROVETIN_PLATFORM_STANDARD_STREAMS_H_
#define MAROVETIN_PLATFORM_STANDARD_STREAMS_H_

namespace platform {

// True when standard error is a terminal.
bool StandardErrorIsTerminal();

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_STANDARD_STREAMS_H_

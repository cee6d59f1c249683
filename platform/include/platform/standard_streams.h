// The process's standard streams as a command-line tool needs them: whether
// error output goes to a terminal (for a progress bar), and whether
// standard output does.
#ifndef MAROVETIN_PLATFORM_STANDARD_STREAMS_H_
#define MAROVETIN_PLATFORM_STANDARD_STREAMS_H_

namespace platform {

// True when standard error is a terminal.
bool StandardErrorIsTerminal();
// True when standard output is a terminal (someone may be reading each line
// as it comes).
bool StandardOutputIsTerminal();

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_STANDARD_STREAMS_H_

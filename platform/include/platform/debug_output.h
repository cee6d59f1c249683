// The debugger channel: text meant for a developer watching the process;
// and silencing standard output, which carries the progress lines.
#ifndef MAROVETIN_PLATFORM_DEBUG_OUTPUT_H_
#define MAROVETIN_PLATFORM_DEBUG_OUTPUT_H_

#include <string>

namespace platform {

// Writes text (as given, no line end added) to standard error when the
// environment variable MAROVETIN_DEBUG is set; otherwise does nothing.
void DebugOutput(const std::string& text);

// Sends everything written to standard output from now on to nowhere (the
// null device): the process's progress lines are not wanted. False when the
// null device cannot be opened; standard output is left as it was then.
bool SilenceStandardOutput();

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_DEBUG_OUTPUT_H_

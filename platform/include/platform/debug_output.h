// The debugger channel: text meant for a developer watching the process.
#ifndef MAROVETIN_PLATFORM_DEBUG_OUTPUT_H_
#define MAROVETIN_PLATFORM_DEBUG_OUTPUT_H_

#include <string>

namespace platform {

// Writes text (as given, no line end added) to standard error when the
// environment variable MAROVETIN_DEBUG is set; otherwise does nothing.
void DebugOutput(const std::string& text);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_DEBUG_OUTPUT_H_

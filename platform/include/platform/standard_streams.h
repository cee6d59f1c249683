// The process's standard output and error as a command-line tool needs them:
// whether error output goes to a terminal (for a progress bar), and a way to
// keep a library's progress lines off standard output while the tool's own
// output goes there.
#ifndef MAROVETIN_PLATFORM_STANDARD_STREAMS_H_
#define MAROVETIN_PLATFORM_STANDARD_STREAMS_H_

namespace platform {

// True when standard error is a terminal.
bool StandardErrorIsTerminal();

// While it lives, whatever is written to standard output (stdio or the
// descriptor) is discarded; the stream is flushed on the way in and out.
// Nesting is allowed.
class StandardOutputMuted {
 public:
  StandardOutputMuted();
  ~StandardOutputMuted();
  StandardOutputMuted(const StandardOutputMuted&) = delete;
  StandardOutputMuted& operator=(const StandardOutputMuted&) = delete;

 private:
  int saved_ = -1;  // the real standard output, or -1 when muting failed
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_STANDARD_STREAMS_H_

// Close requests from the terminal. A window's close button has no terminal
// counterpart except Ctrl-C (SIGINT); while a window that refuses to close is
// up, SIGINT is turned into a recorded close request instead of ending the
// process, and the window's message loop delivers it like any other.
#ifndef MAROVETIN_UI_INTERRUPT_H_
#define MAROVETIN_UI_INTERRUPT_H_

#include <memory>

namespace ui {

// While an object lives, SIGINT does not end the process: each one is recorded
// as a close request. System calls interrupted by the signal are restarted, so
// no file transfer in progress fails because of it. The previous disposition
// comes back when the object goes. Objects may nest.
class CloseRequestGuard {
 public:
  CloseRequestGuard();
  ~CloseRequestGuard();
  CloseRequestGuard(const CloseRequestGuard&) = delete;
  CloseRequestGuard& operator=(const CloseRequestGuard&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// Takes the recorded close requests: true when at least one arrived since the
// last call (several collapse into one). Safe to call at any time.
bool TakeCloseRequest();

}  // namespace ui

#endif  // MAROVETIN_UI_INTERRUPT_H_

// What the progress view needs from the system beyond standard C: whether a
// stream is a terminal, and a window of its own where the system has windows.
// One implementation per system (posix/, win32/).
#ifndef MAROVETIN_UI_SRC_NATIVE_WINDOW_H_
#define MAROVETIN_UI_SRC_NATIVE_WINDOW_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace ui {
namespace internal {

// True when stream writes to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);
// True when both streams write to one terminal.
bool SameTerminal(std::FILE* a, std::FILE* b);

// The progress dialog as a real window: the static text above a progress
// bar. Exists only where the system has windows and they are wanted.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void Show() = 0;
  // Hands a progress-bar message to the bar's own window procedure.
  virtual void Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // What the terminal bar would show now: its percentage and, once a stage
  // is set (stage not empty), the stage's name and count. Called on every
  // change; a window that draws from it redraws at a pace of its own.
  virtual void ShowProgress(int /*percent*/, const std::string& /*stage*/,
                            std::uint64_t /*done*/, std::uint64_t /*total*/) {}
};

// A hidden window with text and a bar, or null where there is none or it is
// not wanted. Only a view that draws on standard error gets one.
//   Windows: unless the environment variable MAROVETIN_NO_WINDOW is set
//   (tests, scripted runs) or the window cannot be made.
//   Elsewhere: a GTK 3 window when standard error is not a terminal, a
//   display is named (DISPLAY, WAYLAND_DISPLAY), neither MAROVETIN_NO_WINDOW
//   nor a quiet run says no, and GTK can be loaded; otherwise none.
std::unique_ptr<ProgressWindow> OpenProgressWindow(const std::string& text, std::FILE* stream);

// The system's own message box, after the line on stream was written, for a
// real run (stream is stderr) under the rules above: a MessageBoxA on
// Windows, a GTK message dialog elsewhere; nothing where there are no
// windows. Returns when the box was closed.
void ShowNativeMessageBox(const std::string& title, const std::string& text, std::FILE* stream);

// True once the run was asked to be quiet (SetQuietRun).
bool QuietRun();

}  // namespace internal
}  // namespace ui

#endif  // MAROVETIN_UI_SRC_NATIVE_WINDOW_H_

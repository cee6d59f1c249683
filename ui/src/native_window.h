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
};

// A hidden window with text and a bar, or null where there is none: on POSIX
// always; on Windows when the environment variable MAROVETIN_NO_WINDOW is set
// (tests, scripted runs) or the window cannot be made.
std::unique_ptr<ProgressWindow> OpenProgressWindow(const std::string& text);

// The system's own message box, after the line on stream was written: a real
// MessageBoxA on Windows for a real run (stream is stderr and windows are
// wanted); nothing where there are no windows.
void ShowNativeMessageBox(const std::string& title, const std::string& text, std::FILE* stream);

}  // namespace internal
}  // namespace ui

#endif  // MAROVETIN_UI_SRC_NATIVE_WINDOW_H_

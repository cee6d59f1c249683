// The desktop's own windows on POSIX systems (GTK 3, loaded at run time), and
// the rule for when they stand in for the terminal.
#ifndef MAROVETIN_UI_SRC_POSIX_DESKTOP_WINDOW_H_
#define MAROVETIN_UI_SRC_POSIX_DESKTOP_WINDOW_H_

#include <cstdio>
#include <memory>
#include <string>

#include "native_window.h"

namespace ui {
namespace internal {

// True when a view or message box drawing on stream should be a desktop
// window: stream is standard error and no terminal, a display is named
// (DISPLAY or WAYLAND_DISPLAY, not empty), MAROVETIN_NO_WINDOW is not set and
// the run is not quiet. Whether GTK can be had is asked only after this.
bool DesktopWindowWanted(std::FILE* stream);

// The progress window, or null when GTK cannot be had.
std::unique_ptr<ProgressWindow> OpenDesktopProgressWindow(const std::string& text);

// A modal message dialog with one OK button; returns when it was closed, or
// at once (false) when GTK cannot be had. While the progress window is open
// and a close request (its close button, Escape, Ctrl-C) waits for its
// answer, the text is shown in that window instead, and the run goes on.
bool ShowDesktopMessageBox(const std::string& title, const std::string& text);

// The run took a close request: the next message box answers it.
void NoteCloseRequestTaken();

// Lets the open progress window redraw and take its events (a close click),
// at most about 30 times a second; does nothing without one. Never waits.
void PumpDesktopWindow();

// Records a close request, as Ctrl-C does (interrupt.cc).
void RecordCloseRequest();

}  // namespace internal
}  // namespace ui

#endif  // MAROVETIN_UI_SRC_POSIX_DESKTOP_WINDOW_H_

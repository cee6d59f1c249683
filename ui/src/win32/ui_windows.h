// The Windows API for the ui layer's Win32 files, and what they share: the
// dialog on screen, the pump of its messages, the recorded close request.
#ifndef MAROVETIN_UI_SRC_WIN32_UI_WINDOWS_H_
#define MAROVETIN_UI_SRC_WIN32_UI_WINDOWS_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>

namespace ui {
namespace internal {

// False when the environment variable MAROVETIN_NO_WINDOW is set: no dialog
// and no message box, only what a terminal shows (tests, scripted runs).
bool WindowsWanted();

// The progress dialog while it is open (the owner of message boxes), or null.
HWND ActiveDialog();

// Dispatches every window message waiting in this thread's queue (painting,
// keys, the close button); returns when none is left. Never waits.
void DispatchWindowMessages();

// Records a close request (the console's Ctrl-C, the dialog's Escape).
void RecordCloseRequest();

}  // namespace internal
}  // namespace ui

#endif  // MAROVETIN_UI_SRC_WIN32_UI_WINDOWS_H_

// The progress dialog as a real Windows dialog: built from an in-memory
// template with the geometry, font and styles of dialog 102, the static text
// above a common-controls progress bar. It is modeless to Windows; the update
// dialog's own modal loop drives it, and every message to the bar and every
// look for a close request lets the window's pending messages (painting,
// keys, the close button) through.
#include <io.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "native_window.h"
#include "resources/dialog_template.h"
#include "ui_windows.h"

namespace ui {
namespace internal {

namespace {

HWND activeDialog = nullptr;

// A DLGTEMPLATE with its items, built word by word as the format wants:
// each item DWORD-aligned, strings as UTF-16 and ending in 0.
class TemplateBuilder {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Text(const std::string& utf8) {
    int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    for (wchar_t c : wide) Word(static_cast<WORD>(c));
  }
  void AlignToDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  void Item(const resources::DialogControl& control, DWORD style, WORD classAtom) {
    AlignToDword();
    Dword(style);
    Dword(0);  // extended style
    Word(static_cast<WORD>(control.x));
    Word(static_cast<WORD>(control.y));
    Word(static_cast<WORD>(control.width));
    Word(static_cast<WORD>(control.height));
    Word(static_cast<WORD>(control.id));
    if (classAtom != 0) {
      Word(0xFFFF);
      Word(classAtom);
    } else {
      Text(control.windowClass);
    }
    Text(control.text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      // Escape and the like: the update must not stop halfway, so the
      // request is handed to the modal loop, which the update dialog
      // swallows.
      if (LOWORD(wParam) == IDCANCEL) RecordCloseRequest();
      return TRUE;
    case WM_CLOSE:
      RecordCloseRequest();
      return TRUE;
    default:
      return FALSE;
  }
}

class DialogWindow : public ProgressWindow {
 public:
  explicit DialogWindow(HWND dialog) : dialog_(dialog) {
    bar_ = ::GetDlgItem(dialog_, static_cast<int>(resources::kUpdateDialog.progressBar.id));
    activeDialog = dialog_;
  }
  ~DialogWindow() override {
    if (activeDialog == dialog_) activeDialog = nullptr;
    ::DestroyWindow(dialog_);
    DispatchWindowMessages();
  }
  void Show() override {
    ::ShowWindow(dialog_, SW_SHOW);
    ::UpdateWindow(dialog_);
    DispatchWindowMessages();
  }
  void Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
    if (bar_ != nullptr) ::SendMessageA(bar_, message, wParam, lParam);
    DispatchWindowMessages();
  }

 private:
  HWND dialog_;
  HWND bar_ = nullptr;
};

}  // namespace

bool WindowsWanted() { return std::getenv("MAROVETIN_NO_WINDOW") == nullptr; }

HWND ActiveDialog() { return activeDialog; }

void DispatchWindowMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: leave it for whoever runs the outer loop.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (activeDialog != nullptr && ::IsDialogMessageA(activeDialog, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

bool IsTerminal(std::FILE* stream) {
  int fd = stream == nullptr ? -1 : _fileno(stream);
  if (fd < 0 || !_isatty(fd)) return false;
  // The C library calls the NUL device a terminal too; a console answers
  // GetConsoleMode.
  DWORD mode = 0;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

bool SameTerminal(std::FILE* a, std::FILE* b) {
  // A process has at most one console.
  return IsTerminal(a) && IsTerminal(b);
}

std::unique_ptr<ProgressWindow> OpenProgressWindow(const std::string& text, std::FILE*) {
  // The dialog is the program's face on Windows: a quiet run keeps it too.
  if (!WindowsWanted()) return nullptr;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);

  const resources::DialogTemplate& shape = resources::kUpdateDialog;
  TemplateBuilder t;
  // Popup with a modal frame and no caption or system menu: nothing to close
  // it with. Shown by Show(), centred on the screen.
  t.Dword(WS_POPUP | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
  t.Dword(WS_EX_TOPMOST | WS_EX_APPWINDOW);
  t.Word(2);  // items
  t.Word(0);
  t.Word(0);
  t.Word(static_cast<WORD>(shape.width));
  t.Word(static_cast<WORD>(shape.height));
  t.Word(0);  // no menu
  t.Word(0);  // the standard dialog class
  t.Text("");
  t.Word(static_cast<WORD>(shape.fontPoints));
  t.Text(shape.fontFace);
  resources::DialogControl staticText = shape.staticText;
  staticText.text = text.c_str();
  t.Item(staticText, WS_CHILD | WS_VISIBLE | SS_LEFT, 0x0082);  // the static class
  t.Item(shape.progressBar, WS_CHILD | WS_VISIBLE | WS_BORDER, 0);

  HWND dialog =
      ::CreateDialogIndirectParamA(::GetModuleHandleA(nullptr), t.get(), nullptr, DialogProc, 0);
  if (dialog == nullptr) return nullptr;
  return std::make_unique<DialogWindow>(dialog);
}

}  // namespace internal
}  // namespace ui

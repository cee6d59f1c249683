// GTK 3, loaded when the program runs rather than linked: a machine without
// GTK (a server, a container) runs the program all the same, and `ldd` of the
// program names no GTK library. Only the few entry points the progress window
// and the message box use are looked up; their types are declared here, with
// every GTK object an opaque pointer.
#ifndef MAROVETIN_UI_SRC_GTK_GTK_LIBRARY_H_
#define MAROVETIN_UI_SRC_GTK_GTK_LIBRARY_H_

namespace ui {
namespace internal {

// The values of the GTK enumerations that are passed.
constexpr int kGtkWindowToplevel = 0;        // GTK_WINDOW_TOPLEVEL
constexpr int kGtkWindowPositionCenter = 1;  // GTK_WIN_POS_CENTER
constexpr int kGtkOrientationVertical = 1;   // GTK_ORIENTATION_VERTICAL
constexpr int kGdkWindowTypeHintDialog = 1;  // GDK_WINDOW_TYPE_HINT_DIALOG
constexpr int kGtkDialogModal = 1;           // GTK_DIALOG_MODAL
constexpr int kGtkDialogDestroyWithParent = 2;
constexpr int kGtkMessageInfo = 0;          // GTK_MESSAGE_INFO
constexpr int kGtkButtonsOk = 1;            // GTK_BUTTONS_OK
constexpr int kGtkResponseOk = -5;          // GTK_RESPONSE_OK
constexpr unsigned kGdkKeyEscape = 0xff1b;  // GDK_KEY_Escape

using GtkObject = void*;  // any GtkWidget, GtkWindow, GtkDialog...
using GtkCallback = void (*)();

struct GtkLibrary {
  void (*disable_setlocale)();
  int (*init_check)(int* argc, char*** argv);
  int (*events_pending)();
  int (*main_iteration_do)(int blocking);
  void (*gdk_flush)();
  int (*event_get_keyval)(const void* event, unsigned* keyval);
  unsigned long (*signal_connect_data)(GtkObject instance, const char* signal, GtkCallback handler,
                                       void* data, void* destroyData, int flags);
  GtkObject (*window_new)(int type);
  void (*window_set_title)(GtkObject window, const char* title);
  void (*window_set_default_size)(GtkObject window, int width, int height);
  void (*window_set_resizable)(GtkObject window, int resizable);
  void (*window_set_position)(GtkObject window, int position);
  void (*window_set_keep_above)(GtkObject window, int above);
  void (*window_set_type_hint)(GtkObject window, int hint);
  void (*container_set_border_width)(GtkObject container, unsigned width);
  void (*container_add)(GtkObject container, GtkObject child);
  GtkObject (*box_new)(int orientation, int spacing);
  void (*box_pack_start)(GtkObject box, GtkObject child, int expand, int fill, unsigned padding);
  GtkObject (*label_new)(const char* text);
  void (*label_set_xalign)(GtkObject label, float xalign);
  void (*label_set_line_wrap)(GtkObject label, int wrap);
  GtkObject (*progress_bar_new)();
  void (*progress_bar_set_fraction)(GtkObject bar, double fraction);
  void (*progress_bar_set_text)(GtkObject bar, const char* text);
  void (*progress_bar_set_show_text)(GtkObject bar, int show);
  void (*widget_show)(GtkObject widget);
  void (*widget_show_all)(GtkObject widget);
  void (*widget_destroy)(GtkObject widget);
  GtkObject (*message_dialog_new)(GtkObject parent, int flags, int type, int buttons,
                                  const char* format, ...);
  void (*dialog_set_default_response)(GtkObject dialog, int response);
  int (*dialog_run)(GtkObject dialog);
};

// The library with every entry point found and GTK initialised on the
// display the environment names, or null: no GTK 3 on the machine, an entry
// point missing, or no display to be had. Tried once per process; later
// calls return the first answer. Nothing is written on any stream when it
// fails. GTK is kept from setting the process's locale, so that numbers in
// the program's own output stay as they are without it.
const GtkLibrary* LoadGtk();

// Tests: the library file the next LoadGtk tries instead of GTK's, when no
// earlier load succeeded (a name that does not exist stands for a machine
// without GTK). Null goes back to GTK's own.
void SetGtkLibraryFileForTesting(const char* file);

}  // namespace internal
}  // namespace ui

#endif  // MAROVETIN_UI_SRC_GTK_GTK_LIBRARY_H_

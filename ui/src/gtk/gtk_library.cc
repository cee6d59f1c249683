// Finds GTK 3 with the dynamic loader, once per process. The library stays
// loaded until the process ends: GTK cannot be unloaded safely.
#include "gtk_library.h"

#include <dlfcn.h>

namespace ui {
namespace internal {

namespace {

// The GTK 3 library's run-time name; its GDK, GObject and GLib come with it,
// and dlsym on its handle finds their entry points too.
constexpr char kGtkLibraryFile[] = "libgtk-3.so.0";

const char* libraryFile = kGtkLibraryFile;
bool tried = false;
GtkLibrary library;
const GtkLibrary* loaded = nullptr;

template <typename Function>
bool Find(void* handle, const char* name, Function& slot) {
  slot = reinterpret_cast<Function>(::dlsym(handle, name));
  return slot != nullptr;
}

bool FindAll(void* h, GtkLibrary& l) {
  return Find(h, "gtk_disable_setlocale", l.disable_setlocale) &&
         Find(h, "gtk_init_check", l.init_check) &&
         Find(h, "gtk_events_pending", l.events_pending) &&
         Find(h, "gtk_main_iteration_do", l.main_iteration_do) &&
         Find(h, "gdk_flush", l.gdk_flush) && Find(h, "gdk_event_get_keyval", l.event_get_keyval) &&
         Find(h, "g_signal_connect_data", l.signal_connect_data) &&
         Find(h, "gtk_window_new", l.window_new) &&
         Find(h, "gtk_window_set_title", l.window_set_title) &&
         Find(h, "gtk_window_set_default_size", l.window_set_default_size) &&
         Find(h, "gtk_window_set_resizable", l.window_set_resizable) &&
         Find(h, "gtk_window_set_position", l.window_set_position) &&
         Find(h, "gtk_window_set_keep_above", l.window_set_keep_above) &&
         Find(h, "gtk_window_set_type_hint", l.window_set_type_hint) &&
         Find(h, "gtk_container_set_border_width", l.container_set_border_width) &&
         Find(h, "gtk_container_add", l.container_add) && Find(h, "gtk_box_new", l.box_new) &&
         Find(h, "gtk_box_pack_start", l.box_pack_start) && Find(h, "gtk_label_new", l.label_new) &&
         Find(h, "gtk_label_set_xalign", l.label_set_xalign) &&
         Find(h, "gtk_label_set_line_wrap", l.label_set_line_wrap) &&
         Find(h, "gtk_progress_bar_new", l.progress_bar_new) &&
         Find(h, "gtk_progress_bar_set_fraction", l.progress_bar_set_fraction) &&
         Find(h, "gtk_progress_bar_set_text", l.progress_bar_set_text) &&
         Find(h, "gtk_progress_bar_set_show_text", l.progress_bar_set_show_text) &&
         Find(h, "gtk_widget_show", l.widget_show) &&
         Find(h, "gtk_widget_show_all", l.widget_show_all) &&
         Find(h, "gtk_widget_destroy", l.widget_destroy) &&
         Find(h, "gtk_message_dialog_new", l.message_dialog_new) &&
         Find(h, "gtk_dialog_set_default_response", l.dialog_set_default_response) &&
         Find(h, "gtk_dialog_run", l.dialog_run);
}

const GtkLibrary* Load() {
  // Local symbols: nothing of GTK's takes the place of the program's own.
  void* handle = ::dlopen(libraryFile, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  if (!FindAll(handle, library)) {
    ::dlclose(handle);
    return nullptr;
  }
  library.disable_setlocale();
  // Once GTK has tried a display it cannot be unloaded: a refusal keeps it.
  if (!library.init_check(nullptr, nullptr)) return nullptr;
  return &library;
}

}  // namespace

const GtkLibrary* LoadGtk() {
  if (!tried) {
    tried = true;
    loaded = Load();
  }
  return loaded;
}

void SetGtkLibraryFileForTesting(const char* file) {
  if (loaded != nullptr) return;
  libraryFile = file != nullptr ? file : kGtkLibraryFile;
  tried = false;
}

}  // namespace internal
}  // namespace ui

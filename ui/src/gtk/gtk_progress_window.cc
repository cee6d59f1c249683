// The progress dialog and the message boxes as GTK 3 windows: the dialog's
// text above a progress bar that names its stage and counts its files, as
// the terminal bar does. The run drives the window from its own thread and
// message loop: every change is only noted, and at most about 30 times a
// second the bar is redrawn and GTK's pending events are handled, without
// ever waiting for one. Closing the window (or Escape in it) does not stop
// the update: the close becomes a close request, like Ctrl-C, and the
// answer to it is shown in the window.
#include <cstdint>
#include <string>

#include "desktop_window.h"
#include "gtk_library.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "resources/string_table.h"
#include "ui/progress_view.h"

namespace ui {
namespace internal {

namespace {

constexpr std::uint32_t kRefreshMilliseconds = 33;
// Events handled per refresh at most, so that a busy desktop cannot hold the
// run up.
constexpr int kEventsPerRefresh = 64;
constexpr int kWindowWidth = 380;
constexpr int kBorder = 12;
constexpr int kSpacing = 8;

void HandlePendingEvents(const GtkLibrary& gtk) {
  for (int i = 0; i < kEventsPerRefresh && gtk.events_pending(); ++i) gtk.main_iteration_do(0);
}

class GtkProgressWindow;
GtkProgressWindow* openWindow = nullptr;

class GtkProgressWindow : public ProgressWindow {
 public:
  GtkProgressWindow(const GtkLibrary& gtk, const std::string& text) : gtk_(gtk) {
    window_ = gtk_.window_new(kGtkWindowToplevel);
    gtk_.window_set_title(window_, resources::kApplicationTitle);
    gtk_.window_set_type_hint(window_, kGdkWindowTypeHintDialog);
    gtk_.window_set_default_size(window_, kWindowWidth, -1);
    gtk_.window_set_resizable(window_, 0);
    gtk_.window_set_position(window_, kGtkWindowPositionCenter);
    gtk_.window_set_keep_above(window_, 1);
    gtk_.container_set_border_width(window_, kBorder);
    box_ = gtk_.box_new(kGtkOrientationVertical, kSpacing);
    gtk_.container_add(window_, box_);
    GtkObject label = gtk_.label_new(text.c_str());
    gtk_.label_set_xalign(label, 0.0f);
    gtk_.box_pack_start(box_, label, 0, 0, 0);
    bar_ = gtk_.progress_bar_new();
    gtk_.progress_bar_set_show_text(bar_, 1);
    gtk_.box_pack_start(box_, bar_, 0, 0, 0);
    gtk_.signal_connect_data(window_, "delete-event", reinterpret_cast<GtkCallback>(&OnDelete),
                             this, nullptr, 0);
    gtk_.signal_connect_data(window_, "key-press-event", reinterpret_cast<GtkCallback>(&OnKey),
                             this, nullptr, 0);
    openWindow = this;
  }

  ~GtkProgressWindow() override {
    if (openWindow == this) openWindow = nullptr;
    gtk_.widget_destroy(window_);
    HandlePendingEvents(gtk_);
    gtk_.gdk_flush();
  }

  void Show() override {
    gtk_.widget_show_all(window_);
    Refresh(true);
  }

  // The bar's messages are not needed: ShowProgress carries what it shows.
  void Send(std::uint32_t, std::uintptr_t, std::intptr_t) override {}

  void ShowProgress(int percent, const std::string& stage, std::uint64_t done,
                    std::uint64_t total) override {
    if (percent != percent_ || done != done_ || total != total_ || stage != stage_) {
      percent_ = percent;
      done_ = done;
      total_ = total;
      if (stage != stage_) stage_ = stage;
      changed_ = true;
    }
    Refresh(false);
  }

  // Redraws the bar when it changed and handles GTK's pending events; unless
  // forced, only when the last time is a refresh period ago.
  void Refresh(bool force) {
    const std::uint32_t now = platform::TickMilliseconds();
    if (!force && now - lastRefresh_ < kRefreshMilliseconds) return;
    lastRefresh_ = now;
    if (changed_) {
      changed_ = false;
      gtk_.progress_bar_set_fraction(bar_, percent_ / 100.0);
      gtk_.progress_bar_set_text(bar_, BarText().c_str());
    }
    HandlePendingEvents(gtk_);
  }

  // A close request (from this window or Ctrl-C) was taken: the update
  // answers the first one with a message box, which is shown in here, so
  // that no dialog holds the run up.
  void AwaitAnswer() {
    if (!answered_) closeWaitsForAnswer_ = true;
  }

  // The answer to a close request, shown below the bar, when one waits for
  // it; false otherwise.
  bool Answer(const std::string& text) {
    if (!closeWaitsForAnswer_) return false;
    closeWaitsForAnswer_ = false;
    GtkObject note = gtk_.label_new(text.c_str());
    gtk_.label_set_xalign(note, 0.0f);
    gtk_.label_set_line_wrap(note, 1);
    gtk_.box_pack_start(box_, note, 0, 0, 0);
    gtk_.widget_show(note);
    answered_ = true;
    platform::DebugOutput("progress window: " + text + "\n");
    Refresh(true);
    return true;
  }

  GtkObject window() const { return window_; }

 private:
  // "40% files 1,234/3,000", as the terminal bar ends.
  std::string BarText() const {
    std::string text = std::to_string(percent_) + "%";
    if (!stage_.empty()) {
      text += " " + stage_ + " " + ProgressView::GroupDigits(done_) + "/" +
              ProgressView::GroupDigits(total_);
    }
    return text;
  }

  // The close button, and Escape as in a Windows dialog: refused, and handed
  // on as a close request.
  static int OnDelete(GtkObject, void*, void*) {
    RecordCloseRequest();
    return 1;  // handled: the window stays
  }
  static int OnKey(GtkObject, void* event, void* self) {
    unsigned keyval = 0;
    if (!static_cast<GtkProgressWindow*>(self)->gtk_.event_get_keyval(event, &keyval) ||
        keyval != kGdkKeyEscape) {
      return 0;
    }
    RecordCloseRequest();
    return 1;
  }

  const GtkLibrary& gtk_;
  GtkObject window_ = nullptr;
  GtkObject box_ = nullptr;
  GtkObject bar_ = nullptr;
  int percent_ = 0;
  std::string stage_;
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
  bool changed_ = true;
  std::uint32_t lastRefresh_ = 0;
  bool closeWaitsForAnswer_ = false;
  bool answered_ = false;
};

}  // namespace

std::unique_ptr<ProgressWindow> OpenDesktopProgressWindow(const std::string& text) {
  const GtkLibrary* gtk = LoadGtk();
  if (gtk == nullptr) {
    platform::DebugOutput("progress window: none, GTK 3 cannot be loaded or opens no display\n");
    return nullptr;
  }
  platform::DebugOutput("progress window: GTK 3\n");
  return std::make_unique<GtkProgressWindow>(*gtk, text);
}

bool ShowDesktopMessageBox(const std::string& title, const std::string& text) {
  if (openWindow != nullptr && openWindow->Answer(text)) return true;
  const GtkLibrary* gtk = LoadGtk();
  if (gtk == nullptr) return false;
  GtkObject parent = openWindow != nullptr ? openWindow->window() : nullptr;
  GtkObject dialog = gtk->message_dialog_new(parent, kGtkDialogModal | kGtkDialogDestroyWithParent,
                                             kGtkMessageInfo, kGtkButtonsOk, "%s", text.c_str());
  if (dialog == nullptr) return false;
  gtk->window_set_title(dialog, title.c_str());
  gtk->window_set_keep_above(dialog, 1);
  if (parent == nullptr) gtk->window_set_position(dialog, kGtkWindowPositionCenter);
  // Enter presses OK, as it does in a Windows message box.
  gtk->dialog_set_default_response(dialog, kGtkResponseOk);
  gtk->dialog_run(dialog);
  gtk->widget_destroy(dialog);
  HandlePendingEvents(*gtk);
  gtk->gdk_flush();
  return true;
}

void NoteCloseRequestTaken() {
  if (openWindow != nullptr) openWindow->AwaitAnswer();
}

void PumpDesktopWindow() {
  if (openWindow != nullptr) openWindow->Refresh(false);
}

}  // namespace internal
}  // namespace ui

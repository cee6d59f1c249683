// The desktop window where GTK cannot be loaded: the view and the message box
// behave as on a machine that never had a window (standard error not a
// terminal: no bar, the box's line alone).
#include <gtest/gtest.h>

#if defined(MAROVETIN_GTK)

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "gtk_library.h"
#include "ui/message_box.h"
#include "ui/progress_view.h"

namespace {

// Sets or unsets an environment variable for the object's lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Standard error goes to a scratch file (no terminal) for the object's
// lifetime; Text() is what was written to it.
class CapturedStandardError {
 public:
  CapturedStandardError() : file_(std::tmpfile()) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    ::dup2(fileno(file_), 2);
  }
  ~CapturedStandardError() {
    Restore();
    std::fclose(file_);
  }
  std::string Text() {
    Restore();
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_ = -1;
};

TEST(DesktopWindowTest, FailedGtkLoadFallsBackToTheTerminalRulesSilently) {
  ui::internal::SetGtkLibraryFileForTesting("libmarovetin-no-such-gtk.so.0");
  ScopedVariable display("DISPLAY", ":0");
  ScopedVariable noWindow("MAROVETIN_NO_WINDOW", nullptr);
  ScopedVariable debug("MAROVETIN_DEBUG", nullptr);
  CapturedStandardError err;
  {
    ui::ProgressView view("Decompressing data, please wait.");
    EXPECT_FALSE(view.windowed());
    EXPECT_FALSE(view.drawing());
    view.Show();
    view.SetStage("files", 3);
    view.SetDone(2);
    // Returns at once: no dialog waits for a button.
    EXPECT_EQ(ui::ShowMessageBox("marovetin", "refused"), ui::kMessageBoxOk);
    view.Close();
  }
  EXPECT_EQ(err.Text(), "marovetin: refused\n");
  ui::internal::SetGtkLibraryFileForTesting(nullptr);
}

}  // namespace

#endif  // MAROVETIN_GTK

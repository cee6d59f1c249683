// A dialog's static text and progress bar, drawn on a terminal: the text on
// its own line, then the bar with its percentage, redrawn in place as the
// position moves, and a final line feed when the view closes. When the stream
// is not a terminal nothing is drawn, so that logs and pipes stay clean.
// On Windows the production view (kWhenTerminal) is a real dialog window
// instead, with the text above a common-controls progress bar that receives
// the same messages; the terminal stays the choice where windows are not
// wanted (MAROVETIN_NO_WINDOW set) and for the other drawing modes. On a
// Linux desktop the production view is a GTK window when standard error is
// not a terminal (a run started from a menu or a game launcher), with the bar
// naming its stage and count as the terminal bar does.
#ifndef MAROVETIN_UI_PROGRESS_VIEW_H_
#define MAROVETIN_UI_PROGRESS_VIEW_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "ui/message_queue.h"

namespace ui {

namespace internal {
class ProgressWindow;
}  // namespace internal

// The two messages a progress bar understands here.
constexpr std::uint32_t kProgressSetRange = 0x0401;  // lParam: low word minimum, high word maximum
constexpr std::uint32_t kProgressSetPos = 0x0402;    // wParam: the new position

// The lParam of kProgressSetRange: each bound cut to its low 16 bits.
constexpr LParam PackProgressRange(std::uint32_t minimum, std::uint32_t maximum) {
  return static_cast<LParam>(((maximum & 0xFFFF) << 16) | (minimum & 0xFFFF));
}

class ProgressView {
 public:
  enum class Drawing {
    kWhenTerminal,  // draw only when the stream is a terminal
    kAlways,        // draw whatever the stream is (tests)
    kNever,         // keep the state, draw nothing
  };

  // text is the static text shown above the bar; stream receives the drawing
  // (standard error; never standard output, which carries the debug lines).
  explicit ProgressView(std::string text, Drawing drawing = Drawing::kWhenTerminal,
                        std::FILE* stream = stderr);
  // Closes the view.
  virtual ~ProgressView();
  ProgressView(const ProgressView&) = delete;
  ProgressView& operator=(const ProgressView&) = delete;

  // Puts the text and the bar on screen; later changes redraw the bar.
  void Show();

  // A message sent to the bar, handled at once (there is no queue between a
  // window and its control). kProgressSetRange takes a 16-bit minimum and
  // maximum from lParam and returns the previous pair packed the same way;
  // kProgressSetPos moves to wParam, held inside the range, and returns the
  // previous position. Any other message returns 0 and changes nothing.
  virtual LParam Send(std::uint32_t message, WParam wParam, LParam lParam);

  // Names the stage the bar now counts ("pack", "files") and how many files
  // it has; none are done yet. From then on the bar shows the stage's own
  // count, "pack 1,234/5,000", and its percentage comes from that count, so
  // that lists too long for the range message's 16 bits still move it. The
  // range and position messages keep working as before beside it.
  void SetStage(std::string label, std::uint64_t total);
  // How many files of the stage are done (held at the stage's total).
  void SetDone(std::uint64_t done);

  // Call before writing to target. When that text would land on the bar's
  // line (target is the bar's stream, or standard output on the same
  // terminal), the bar is wiped first; the next draw puts it on a line of its
  // own below the text.
  void BeforeOutput(std::FILE* target);

  // Another writer is about to write to standard output and may leave its
  // line unfinished (text without a line end). When the bar shares that
  // terminal it is wiped and kept off screen until Release, so that it never
  // lands in the middle of that line. Otherwise nothing changes.
  void Hold();
  // The line on standard output is complete again: the bar may come back.
  void Release();

  // Draws the bar a last time and ends its line; with finalBar false (a run
  // that was called off) wipes the bar instead. Later calls do nothing.
  void Close(bool finalBar = true);

  int minimum() const { return minimum_; }
  int maximum() const { return maximum_; }
  int position() const { return position_; }
  bool drawing() const { return drawing_; }
  // True while the view is a real window.
  bool windowed() const { return window_ != nullptr; }
  // The bar line as it is drawn: "[####      ]  40%", followed by the stage's
  // count once a stage is set: "[####      ]  40% files 120/300".
  std::string BarText() const;
  // A count with a comma between each group of three digits: 1,234,567.
  static std::string GroupDigits(std::uint64_t value);

 private:
  // Puts the bar on screen unless it is already there as it would be drawn;
  // a count alone is redrawn at most every so often unless forced.
  void Draw(bool force = false);
  int Percent() const;
  // Hands the bar's state to the window, where there is one.
  void DescribeToWindow();

  std::string text_;
  std::FILE* stream_;
  // The dialog as a real window, where the system has one (Windows).
  std::unique_ptr<internal::ProgressWindow> window_;
  bool drawing_;
  bool sharesTerminalWithStdout_ = false;
  bool shown_ = false;
  bool closed_ = false;
  bool barOnLine_ = false;  // the cursor stands at the end of a drawn bar
  bool held_ = false;
  std::string lastDrawn_;
  int minimum_ = 0;
  int maximum_ = 100;
  int position_ = 0;
  bool staged_ = false;
  std::string stageLabel_;
  std::uint64_t stageTotal_ = 0;
  std::uint64_t stageDone_ = 0;
  std::uint32_t lastDrawTick_ = 0;
  int lastPercent_ = -1;
};

}  // namespace ui

#endif  // MAROVETIN_UI_PROGRESS_VIEW_H_

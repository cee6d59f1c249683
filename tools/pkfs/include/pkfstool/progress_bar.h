// A one-line progress bar on standard error for long commands, drawn only
// when standard error is a terminal and the work is large enough to watch.
#ifndef PKFSTOOL_PROGRESS_BAR_H_
#define PKFSTOOL_PROGRESS_BAR_H_

#include <cstddef>
#include <string>

namespace pkfstool {

class ProgressBar {
 public:
  // Fewer items than this finish before a bar would be worth drawing.
  static constexpr std::size_t kMinimumItems = 64;

  // label names the work ("extract"); total counts its items.
  ProgressBar(std::string label, std::size_t total);
  // Ends the line if one was drawn.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // One more item done; redraws when the shown share changes.
  void Step();
  // Ends the bar's line, so that messages after it start on their own.
  void Finish();
  // Writes one line (ending in a newline) to standard error below the bar,
  // which is drawn again at the next step.
  void Message(const std::string& line);

  bool shown() const { return shown_; }
  // The line as drawn for done of total items, without the leading "\r".
  static std::string Line(const std::string& label, std::size_t done, std::size_t total);

 private:
  std::string label_;
  std::size_t total_;
  std::size_t done_ = 0;
  int drawnPercent_ = -1;
  bool shown_;
  bool finished_ = false;
};

}  // namespace pkfstool

#endif  // PKFSTOOL_PROGRESS_BAR_H_

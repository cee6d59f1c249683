#include "ui/progress_view.h"

#include <algorithm>
#include <utility>

#include "native_window.h"
#include "platform/clock.h"

namespace ui {

namespace {

using internal::IsTerminal;

constexpr int kBarWidth = 40;
// A count that moves without changing the percentage is redrawn at most this
// often: tens of thousands of small files would otherwise each cost a write
// to the terminal.
constexpr std::uint32_t kRedrawMilliseconds = 100;
constexpr char kReturnAndWipe[] = "\r\033[K";

}  // namespace

ProgressView::ProgressView(std::string text, Drawing drawing, std::FILE* stream)
    : text_(std::move(text)), stream_(stream) {
  switch (drawing) {
    case Drawing::kAlways:
      drawing_ = stream_ != nullptr;
      break;
    case Drawing::kNever:
      drawing_ = false;
      break;
    case Drawing::kWhenTerminal:
      // Where the system has windows the dialog is one; the terminal is
      // the choice where it has none.
      window_ = internal::OpenProgressWindow(text_, stream_);
      drawing_ = window_ == nullptr && IsTerminal(stream_);
      break;
  }
  if (drawing_ && IsTerminal(stream_)) {
    sharesTerminalWithStdout_ = internal::SameTerminal(stream_, stdout);
  }
}

ProgressView::~ProgressView() { Close(); }

void ProgressView::Show() {
  if (window_ != nullptr && !closed_) {
    window_->Show();
    DescribeToWindow();
  }
  if (!drawing_ || shown_ || closed_) return;
  shown_ = true;
  std::fputs(text_.c_str(), stream_);
  std::fputc('\n', stream_);
  Draw();
}

LParam ProgressView::Send(std::uint32_t message, WParam wParam, LParam lParam) {
  if (window_ != nullptr && !closed_) window_->Send(message, wParam, lParam);
  switch (message) {
    case kProgressSetRange: {
      LParam previous = PackProgressRange(static_cast<std::uint32_t>(minimum_),
                                          static_cast<std::uint32_t>(maximum_));
      std::uint32_t packed = static_cast<std::uint32_t>(lParam);
      minimum_ = static_cast<int>(packed & 0xFFFF);
      maximum_ = static_cast<int>(packed >> 16);
      position_ = std::clamp(position_, minimum_, std::max(minimum_, maximum_));
      Draw();
      return previous;
    }
    case kProgressSetPos: {
      LParam previous = position_;
      // The position is a signed int in the control; hold it in the range.
      long long wanted = static_cast<long long>(static_cast<int>(wParam));
      position_ =
          static_cast<int>(std::clamp<long long>(wanted, minimum_, std::max(minimum_, maximum_)));
      Draw();
      return previous;
    }
    default:
      return 0;
  }
}

void ProgressView::SetStage(std::string label, std::uint64_t total) {
  staged_ = true;
  stageLabel_ = std::move(label);
  stageTotal_ = total;
  stageDone_ = 0;
  Draw();
}

void ProgressView::SetDone(std::uint64_t done) {
  if (!staged_) return;
  stageDone_ = std::min(done, stageTotal_);
  Draw();
}

std::string ProgressView::GroupDigits(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, ',');
  return digits;
}

int ProgressView::Percent() const {
  if (staged_) {
    return stageTotal_ == 0 ? 100 : static_cast<int>(100 * stageDone_ / stageTotal_);
  }
  if (maximum_ <= minimum_) return 100;
  return static_cast<int>(100LL * (position_ - minimum_) / (maximum_ - minimum_));
}

std::string ProgressView::BarText() const {
  const int percent = Percent();
  int filled = percent * kBarWidth / 100;
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  char tail[8];
  std::snprintf(tail, sizeof tail, "] %3d%%", percent);
  bar += tail;
  if (staged_) {
    bar += " " + stageLabel_ + " " + GroupDigits(stageDone_) + "/" + GroupDigits(stageTotal_);
  }
  return bar;
}

void ProgressView::DescribeToWindow() {
  if (window_ == nullptr || closed_) return;
  static const std::string kNoStage;
  window_->ShowProgress(Percent(), staged_ ? stageLabel_ : kNoStage, stageDone_, stageTotal_);
}

void ProgressView::Draw(bool force) {
  DescribeToWindow();
  if (!drawing_ || !shown_ || closed_ || held_) return;
  std::string line = BarText();
  if (barOnLine_ && line == lastDrawn_) return;
  const std::uint32_t now = platform::TickMilliseconds();
  const int percent = Percent();
  // Only the count moved: redraw now and then, and always at the stage's end.
  if (!force && barOnLine_ && staged_ && stageDone_ < stageTotal_ && percent == lastPercent_ &&
      now - lastDrawTick_ < kRedrawMilliseconds) {
    return;
  }
  lastDrawTick_ = now;
  lastPercent_ = percent;
  if (barOnLine_) {
    // A shorter line (the next stage's count) must not leave the old tail.
    if (line.size() < lastDrawn_.size()) {
      std::fputs(kReturnAndWipe, stream_);
    } else {
      std::fputc('\r', stream_);
    }
  }
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
  lastDrawn_ = line;
  barOnLine_ = true;
}

void ProgressView::BeforeOutput(std::FILE* target) {
  if (!drawing_ || !barOnLine_) return;
  bool sameLine = target == stream_ || (target == stdout && sharesTerminalWithStdout_);
  if (!sameLine) return;
  std::fputs(kReturnAndWipe, stream_);
  std::fflush(stream_);
  barOnLine_ = false;
}

void ProgressView::Hold() {
  if (!sharesTerminalWithStdout_) return;
  BeforeOutput(stdout);
  held_ = true;
}

void ProgressView::Release() {
  if (!held_) return;
  held_ = false;
  Draw();
}

void ProgressView::Close(bool finalBar) {
  if (window_ != nullptr) {
    window_.reset();
    closed_ = true;
  }
  if (!drawing_ || !shown_ || closed_) return;
  held_ = false;
  if (finalBar) {
    Draw(true);
    std::fputc('\n', stream_);
  } else if (barOnLine_) {
    std::fputs(kReturnAndWipe, stream_);
  }
  std::fflush(stream_);
  closed_ = true;
  barOnLine_ = false;
}

}  // namespace ui

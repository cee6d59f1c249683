#include "ui/progress_view.h"

#include <algorithm>
#include <utility>

#include "native_window.h"

namespace ui {

namespace {

using internal::IsTerminal;

constexpr int kBarWidth = 40;
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
      window_ = internal::OpenProgressWindow(text_);
      drawing_ = window_ == nullptr && IsTerminal(stream_);
      break;
  }
  if (drawing_ && IsTerminal(stream_)) {
    sharesTerminalWithStdout_ = internal::SameTerminal(stream_, stdout);
  }
}

ProgressView::~ProgressView() { Close(); }

void ProgressView::Show() {
  if (window_ != nullptr && !closed_) window_->Show();
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

std::string ProgressView::BarText() const {
  int percent = 100;
  if (maximum_ > minimum_) {
    percent = static_cast<int>(100LL * (position_ - minimum_) / (maximum_ - minimum_));
  }
  int filled = percent * kBarWidth / 100;
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  char tail[8];
  std::snprintf(tail, sizeof tail, "] %3d%%", percent);
  return bar + tail;
}

void ProgressView::Draw() {
  if (!drawing_ || !shown_ || closed_ || held_) return;
  std::string line = BarText();
  if (barOnLine_ && line == lastDrawn_) return;
  if (barOnLine_) std::fputc('\r', stream_);
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
    Draw();
    std::fputc('\n', stream_);
  } else if (barOnLine_) {
    std::fputs(kReturnAndWipe, stream_);
  }
  std::fflush(stream_);
  closed_ = true;
  barOnLine_ = false;
}

}  // namespace ui

#include "ui/progress_view.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace ui {

namespace {

constexpr int kBarWidth = 40;
constexpr char kReturnAndWipe[] = "\r\033[K";

bool IsTerminal(std::FILE* stream) {
  int fd = stream == nullptr ? -1 : fileno(stream);
  return fd >= 0 && isatty(fd) == 1;
}

// Two descriptors that write to the same terminal device.
bool SameTerminal(int a, int b) {
  if (isatty(a) != 1 || isatty(b) != 1) return false;
  struct stat sa, sb;
  if (fstat(a, &sa) != 0 || fstat(b, &sb) != 0) return false;
  return sa.st_rdev == sb.st_rdev;
}

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
      drawing_ = IsTerminal(stream_);
      break;
  }
  if (drawing_ && IsTerminal(stream_)) {
    sharesTerminalWithStdout_ = SameTerminal(fileno(stream_), fileno(stdout));
  }
}

ProgressView::~ProgressView() { Close(); }

void ProgressView::Show() {
  if (!drawing_ || shown_ || closed_) return;
  shown_ = true;
  std::fputs(text_.c_str(), stream_);
  std::fputc('\n', stream_);
  Draw();
}

LParam ProgressView::Send(std::uint32_t message, WParam wParam, LParam lParam) {
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

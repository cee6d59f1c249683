// The progress bar of the tool, redrawn in place with a carriage return.
#include "pkfstool/progress_bar.h"

#include <cstdio>
#include <utility>

#include "platform/standard_streams.h"

namespace pkfstool {

namespace {

constexpr std::size_t kBarWidth = 40;

}  // namespace

ProgressBar::ProgressBar(std::string label, std::size_t total)
    : label_(std::move(label)),
      total_(total),
      shown_(total >= kMinimumItems && platform::StandardErrorIsTerminal()) {}

ProgressBar::~ProgressBar() { Finish(); }

std::string ProgressBar::Line(const std::string& label, std::size_t done, std::size_t total) {
  const std::size_t shownDone = done < total ? done : total;
  const std::size_t filled = total == 0 ? kBarWidth : shownDone * kBarWidth / total;
  const std::size_t percent = total == 0 ? 100 : shownDone * 100 / total;
  std::string line =
      label + " [" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "] ";
  line += std::to_string(percent) + "% " + std::to_string(shownDone) + "/" + std::to_string(total);
  return line;
}

void ProgressBar::Step() {
  ++done_;
  if (!shown_ || finished_) return;
  const int percent = total_ == 0 ? 100 : static_cast<int>(done_ * 100 / total_);
  if (percent == drawnPercent_ && done_ != total_) return;
  drawnPercent_ = percent;
  std::fprintf(stderr, "\r%s", Line(label_, done_, total_).c_str());
  std::fflush(stderr);
}

void ProgressBar::Message(const std::string& line) {
  if (shown_ && !finished_ && drawnPercent_ >= 0) {
    std::fputc('\n', stderr);
    drawnPercent_ = -1;
  }
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!shown_ || finished_) return;
  finished_ = true;
  if (drawnPercent_ >= 0) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
}

}  // namespace pkfstool

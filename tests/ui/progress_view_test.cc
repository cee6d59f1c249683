// The terminal progress view and the message box.
#include "ui/progress_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ui/message_box.h"

namespace {

using ui::kProgressSetPos;
using ui::kProgressSetRange;
using ui::ProgressView;

// A scratch stream standing in for a terminal.
class Stream {
 public:
  Stream() : file_(std::tmpfile()) {}
  ~Stream() { std::fclose(file_); }
  std::FILE* get() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::string text;
    std::rewind(file_);
    int c;
    while ((c = std::fgetc(file_)) != EOF) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  std::FILE* file_;
};

ui::LParam Range(int minimum, int maximum) {
  return static_cast<ui::LParam>((static_cast<std::uint32_t>(maximum) << 16) |
                                       static_cast<std::uint32_t>(minimum));
}

TEST(ProgressViewTest, RangeAndPositionMessages) {
  ProgressView view("text", ProgressView::Drawing::kNever);
  EXPECT_EQ(view.Send(kProgressSetRange, 0, Range(0, 4)), Range(0, 100));
  EXPECT_EQ(view.minimum(), 0);
  EXPECT_EQ(view.maximum(), 4);
  EXPECT_EQ(view.Send(kProgressSetPos, 3, 0), 0);
  EXPECT_EQ(view.Send(kProgressSetPos, 9, 0), 3);  // returns the previous position
  EXPECT_EQ(view.position(), 4);                   // held inside the range
  // The 16-bit maximum of an empty list: count - 1 cut to 16 bits.
  EXPECT_EQ(view.Send(kProgressSetRange, 0, static_cast<ui::LParam>(0xFFFF0000u)),
            Range(0, 4));
  EXPECT_EQ(view.maximum(), 65535);
  EXPECT_EQ(view.Send(0x0499, 1, 1), 0);
}

TEST(ProgressViewTest, BarText) {
  ProgressView view("", ProgressView::Drawing::kNever);
  view.Send(kProgressSetRange, 0, Range(0, 4));
  EXPECT_EQ(view.BarText(), "[" + std::string(40, ' ') + "]   0%");
  view.Send(kProgressSetPos, 2, 0);
  EXPECT_EQ(view.BarText(), "[" + std::string(20, '#') + std::string(20, ' ') + "]  50%");
  view.Send(kProgressSetPos, 4, 0);
  EXPECT_EQ(view.BarText(), "[" + std::string(40, '#') + "] 100%");
  // One file: the range is [0, 0] and the bar stands at its maximum.
  view.Send(kProgressSetRange, 0, Range(0, 0));
  EXPECT_EQ(view.BarText(), "[" + std::string(40, '#') + "] 100%");
}

TEST(ProgressViewTest, StageCountMovesTheBarPastSixteenBitsAndGroupsDigits) {
  Stream out;
  ProgressView view("text", ProgressView::Drawing::kAlways, out.get());
  view.Show();
  // 70,000 files: the range message keeps only the low 16 bits of 69,999.
  view.Send(kProgressSetRange, 0, Range(0, 69999 & 0xFFFF));
  view.SetStage("files", 70000);
  for (std::uint64_t done = 1; done <= 35000; ++done) {
    view.Send(kProgressSetPos, done - 1, 0);
    view.SetDone(done);
  }
  EXPECT_EQ(view.BarText(), "[" + std::string(20, '#') + std::string(20, ' ') +
                                "]  50% files 35,000/70,000");
  view.SetDone(90000);  // held at the stage's total
  EXPECT_EQ(view.BarText().substr(41), "] 100% files 70,000/70,000");
  view.SetStage("pack", 1234);
  view.SetDone(3);
  view.Close();
  // Every change of percentage is drawn, and the last count when the view
  // closes; the count alone is not redrawn 35,000 times.
  const std::string text = out.Text();
  EXPECT_NE(text.find("  49% files"), std::string::npos);
  EXPECT_LT(text.size(), 100u * 200u);
  const std::string ending = " pack 3/1,234\n";
  ASSERT_GT(text.size(), ending.size());
  EXPECT_EQ(text.substr(text.size() - ending.size()), ending);

  const std::pair<std::uint64_t, const char*> grouped[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {65536, "65,536"}, {1234567, "1,234,567"}};
  for (const auto& [value, digits] : grouped) EXPECT_EQ(ProgressView::GroupDigits(value), digits);
}

TEST(ProgressViewTest, DrawsTextThenABarRedrawnInPlaceThenALineFeed) {
  Stream out;
  {
    ProgressView view("Decompressing data, please wait.", ProgressView::Drawing::kAlways,
                      out.get());
    view.Send(kProgressSetRange, 0, Range(0, 1));
    view.Show();
    view.Send(kProgressSetPos, 0, 0);  // unchanged: not redrawn
    view.Send(kProgressSetPos, 1, 0);
  }
  const std::string empty = "[" + std::string(40, ' ') + "]   0%";
  const std::string full = "[" + std::string(40, '#') + "] 100%";
  EXPECT_EQ(out.Text(), "Decompressing data, please wait.\n" + empty + "\r" + full + "\n");
}

TEST(ProgressViewTest, OtherOutputOnTheSameStreamGetsTheLineFirst) {
  Stream out;
  ProgressView view("T", ProgressView::Drawing::kAlways, out.get());
  view.Send(kProgressSetRange, 0, Range(0, 1));
  view.Show();
  view.BeforeOutput(out.get());
  std::fputs("message\n", out.get());
  view.Send(kProgressSetPos, 1, 0);
  view.Close();
  view.Close();
  const std::string empty = "[" + std::string(40, ' ') + "]   0%";
  const std::string full = "[" + std::string(40, '#') + "] 100%";
  EXPECT_EQ(out.Text(), "T\n" + empty + "\r\033[Kmessage\n" + full + "\n");
}

TEST(ProgressViewTest, CalledOffRunWipesTheBar) {
  Stream out;
  ProgressView view("T", ProgressView::Drawing::kAlways, out.get());
  view.Show();
  view.Close(false);
  view.Close();
  EXPECT_EQ(out.Text(), "T\n[" + std::string(40, ' ') + "]   0%\r\033[K");
}

TEST(ProgressViewTest, NothingIsDrawnWhenNotAskedOrNotATerminal) {
  Stream out;
  {
    ProgressView never("T", ProgressView::Drawing::kNever, out.get());
    never.Show();
    never.Send(kProgressSetPos, 50, 0);
    // A temporary file is not a terminal.
    ProgressView automatic("T", ProgressView::Drawing::kWhenTerminal, out.get());
    EXPECT_FALSE(automatic.drawing());
    automatic.Show();
    automatic.Send(kProgressSetPos, 50, 0);
  }
  EXPECT_EQ(out.Text(), "");
}

TEST(MessageBoxTest, OneLineWithTheTitle) {
  Stream out;
  EXPECT_EQ(ui::ShowMessageBox("marovetin", "Can't Find Patch.dat", out.get()),
            ui::kMessageBoxOk);
  ui::ShowMessageBox("marovetin", "two\nlines", out.get());
  EXPECT_EQ(out.Text(), "marovetin: Can't Find Patch.dat\nmarovetin: two lines\n");
}

}  // namespace

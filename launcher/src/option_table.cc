#include "launcher/option_table.h"

#include "platform/ascii_case.h"

namespace launcher {
namespace {

// Table order matters: it is the order of optionIndex and of matching.
constexpr OptionRow kRows[OptionTable::kRowCount] = {
    {"-all", 0, "", "no effect of its own"},
    {"-de", 0, "", "invert every byte of each payload after reading it"},
    {"-dc", 0, "", "read each payload as a bzip2 stream"},
    {"-sw", 1, "DIR", "work on the update files in DIR below the current dir"},
    {"-sp", 1, "FILE", "name of the main pack archive (default DATA.pak)"},
    {"-df", 0, "", "delete applied update files and emptied directories"},
    {"-v", 0, "", "update only if the version check passes"},
    {"-log", 1, "FILE", "append time-stamped lines to the run log FILE"},
    {"-mbts", 2, "SOURCE TARGET", "write SOURCE's 4-byte number as decimal text to TARGET"},
    {"-sv", 1, "NUMBER", "write NUMBER to UpdateSetting/UpdateIndex.dat"},
};

// Options are plain ASCII, so lower-casing the ASCII letters alone decides
// every comparison: a byte of a multi-byte character can never make an
// argument equal to an option.
using platform::LowerAscii;

const std::string& EmptyString() {
  static const std::string empty;
  return empty;
}

}  // namespace

const OptionRow& OptionTable::row(Option option) { return kRows[static_cast<int>(option)]; }

const OptionRow& OptionTable::row(int index) { return kRows[index]; }

std::optional<Option> OptionTable::Match(const std::string& argument) {
  const std::string lowered = LowerAscii(argument);
  for (int r = 0; r < kRowCount; ++r) {
    if (lowered == kRows[r].text) return static_cast<Option>(r);
  }
  return std::nullopt;
}

CommandLine CommandLine::Parse(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 0; i < argc; ++i) line.arguments_.emplace_back(argv[i] != nullptr ? argv[i] : "");
  for (int i = 0; i < argc; ++i) {
    std::optional<Option> option = OptionTable::Match(line.arguments_[i]);
    // Kept in 8 bits: a position beyond 255 wraps, as it always has.
    if (option) line.optionIndex_[static_cast<int>(*option)] = static_cast<std::uint8_t>(i);
  }
  return line;
}

const std::string& CommandLine::value(Option option, int which) const {
  const std::size_t at =
      static_cast<std::size_t>(position(option)) + static_cast<std::size_t>(which);
  return at < arguments_.size() ? arguments_[at] : EmptyString();
}

std::optional<Option> CommandLine::optionMissingValue() const {
  for (int r = 0; r < OptionTable::kRowCount; ++r) {
    const Option option = static_cast<Option>(r);
    if (!given(option)) continue;
    const std::size_t last = static_cast<std::size_t>(position(option)) + kRows[r].valueCount;
    if (last >= arguments_.size()) return option;
  }
  return std::nullopt;
}

}  // namespace launcher

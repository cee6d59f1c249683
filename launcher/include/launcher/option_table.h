// The launcher's ten command-line options and where each stands in the
// argument vector.
#ifndef MAROVETIN_LAUNCHER_OPTION_TABLE_H_
#define MAROVETIN_LAUNCHER_OPTION_TABLE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

// The rows of OptionTable, in table order.
enum class Option : int {
  kAll = 0,         // "-all": no effect of its own
  kInvertBytes,     // "-de": payload files are byte-inverted
  kReadBzip2,       // "-dc": payload files are bzip2 streams
  kWorkPath,        // "-sw" DIR: work below currentDir/DIR
  kPackName,        // "-sp" FILE: the main pack volume's name
  kDeleteSources,   // "-df": delete update files once applied
  kCheckVersion,    // "-v": gate the update on the version check
  kLog,             // "-log" FILE: write the run log
  kBinaryToText,    // "-mbts" SOURCE TARGET: utility mode
  kSetUpdateIndex,  // "-sv" NUMBER: utility mode
};

struct OptionRow {
  const char* text;       // the option as matched (lower case)
  int valueCount;         // arguments that follow it and belong to it
  const char* valueHelp;  // the values' names, for messages and the help text
  const char* meaning;    // one line for the help text
};

class OptionTable {
 public:
  static constexpr int kRowCount = 10;

  static const OptionRow& row(Option option);
  static const OptionRow& row(int index);

  // The row whose text equals the argument once it is lower-cased, the first
  // such row in table order; nullopt when no row matches. The comparison is
  // exact: "-LOG" matches "-log", "-logx" matches nothing.
  static std::optional<Option> Match(const std::string& argument);
};

// The arguments and, per option row, the position of the argument that
// matched it (optionIndex). Positions are kept in 8 bits, as the launcher has
// always stored them; 0 means that the option was not given.
class CommandLine {
 public:
  CommandLine() = default;

  // Matches every argument, the program path at position 0 included, against
  // the table. A later occurrence of an option overwrites the earlier
  // position. Values are matched in their own turn as well: in "-log -v" the
  // log is named "-v" and "-v" also counts as given.
  static CommandLine Parse(int argc, const char* const* argv);

  bool given(Option option) const { return position(option) != 0; }
  std::uint8_t position(Option option) const { return optionIndex_[static_cast<int>(option)]; }
  const std::array<std::uint8_t, OptionTable::kRowCount>& optionIndex() const {
    return optionIndex_;
  }

  // The which-th value (1 or 2) of an option: the argument at its position +
  // which. Empty when there is no such argument (see optionMissingValue).
  const std::string& value(Option option, int which = 1) const;

  // The first option in table order that was given but is not followed by as
  // many arguments as it needs; nullopt when every given option has its values.
  std::optional<Option> optionMissingValue() const;

  const std::vector<std::string>& arguments() const { return arguments_; }

 private:
  std::vector<std::string> arguments_;
  std::array<std::uint8_t, OptionTable::kRowCount> optionIndex_{};
};

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_OPTION_TABLE_H_

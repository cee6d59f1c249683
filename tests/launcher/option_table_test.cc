#include "launcher/option_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/command_line_checks.h"

namespace launcher {
namespace {

CommandLine ParseArgs(std::vector<const char*> args) {
  args.insert(args.begin(), "marovetin");
  return CommandLine::Parse(static_cast<int>(args.size()), args.data());
}

TEST(OptionTableTest, MatchesTheLowerCasedArgumentExactly) {
  EXPECT_EQ(OptionTable::Match("-log"), Option::kLog);
  EXPECT_EQ(OptionTable::Match("-LOG"), Option::kLog);
  EXPECT_EQ(OptionTable::Match("-Log"), Option::kLog);
  EXPECT_EQ(OptionTable::Match("-MBTS"), Option::kBinaryToText);
  EXPECT_EQ(OptionTable::Match("-logx"), std::nullopt);
  EXPECT_EQ(OptionTable::Match("-lo"), std::nullopt);
  EXPECT_EQ(OptionTable::Match("log"), std::nullopt);
  EXPECT_EQ(OptionTable::Match(""), std::nullopt);
  EXPECT_EQ(OptionTable::Match("--help"), std::nullopt);
}

TEST(OptionTableTest, RowsAreInTableOrder) {
  const char* expected[] = {"-all", "-de", "-dc",  "-sw",   "-sp",
                            "-df",  "-v",  "-log", "-mbts", "-sv"};
  for (int r = 0; r < OptionTable::kRowCount; ++r) {
    EXPECT_STREQ(OptionTable::row(r).text, expected[r]);
    EXPECT_EQ(OptionTable::Match(expected[r]), static_cast<Option>(r));
  }
}

TEST(CommandLineTest, RecordsPositionsAndNotGivenAsZero) {
  CommandLine line = ParseArgs({"-de", "-sw", "dir", "-v"});
  EXPECT_EQ(line.position(Option::kInvertBytes), 1);
  EXPECT_EQ(line.position(Option::kWorkPath), 2);
  EXPECT_EQ(line.value(Option::kWorkPath), "dir");
  EXPECT_EQ(line.position(Option::kCheckVersion), 4);
  EXPECT_FALSE(line.given(Option::kAll));
  EXPECT_FALSE(line.given(Option::kLog));
  EXPECT_EQ(line.optionMissingValue(), std::nullopt);
}

TEST(CommandLineTest, MixedCaseLogSelectsTheLog) {
  EXPECT_EQ(ParseArgs({"-LOG", "a.log"}).value(Option::kLog), "a.log");
  EXPECT_EQ(ParseArgs({"-Log", "b.log"}).value(Option::kLog), "b.log");
  CommandLine unmatched = ParseArgs({"-logx", "c.log"});
  for (std::uint8_t p : unmatched.optionIndex()) EXPECT_EQ(p, 0);
}

TEST(CommandLineTest, LaterOccurrenceWins) {
  CommandLine line = ParseArgs({"-sp", "first.pak", "-sp", "second.pak"});
  EXPECT_EQ(line.position(Option::kPackName), 3);
  EXPECT_EQ(line.value(Option::kPackName), "second.pak");
}

TEST(CommandLineTest, ValuesAreMatchedInTheirOwnTurn) {
  CommandLine line = ParseArgs({"-log", "-v"});
  EXPECT_EQ(line.value(Option::kLog), "-v");
  EXPECT_TRUE(line.given(Option::kCheckVersion));
  EXPECT_EQ(line.optionMissingValue(), std::nullopt);
}

TEST(CommandLineTest, BothUtilityModesAreRecorded) {
  CommandLine line = ParseArgs({"-sv", "3", "-mbts", "in", "out"});
  EXPECT_TRUE(line.given(Option::kSetUpdateIndex));
  EXPECT_EQ(line.value(Option::kBinaryToText, 1), "in");
  EXPECT_EQ(line.value(Option::kBinaryToText, 2), "out");
}

TEST(CommandLineTest, ReportsAnOptionMissingItsValue) {
  EXPECT_EQ(ParseArgs({"-v", "-log"}).optionMissingValue(), Option::kLog);
  EXPECT_EQ(ParseArgs({"-sw"}).optionMissingValue(), Option::kWorkPath);
  EXPECT_EQ(ParseArgs({"-mbts", "in"}).optionMissingValue(), Option::kBinaryToText);
  EXPECT_EQ(ParseArgs({"-sv"}).optionMissingValue(), Option::kSetUpdateIndex);
  EXPECT_EQ(ParseArgs({"-mbts", "in"}).value(Option::kBinaryToText, 2), "");
  EXPECT_EQ(ParseArgs({"-mbts", "in", "out"}).optionMissingValue(), std::nullopt);
}

TEST(CommandLineTest, PositionsAreKeptInEightBits) {
  // An option at position 257 is stored as 1, and its value is taken from
  // position 2: the launcher has always kept positions in one byte.
  std::vector<const char*> args(256, "x");
  args[0] = "marker";
  args.push_back("-sp");  // position 257
  args.push_back("late.pak");
  CommandLine line = ParseArgs(args);
  EXPECT_EQ(line.position(Option::kPackName), 1);
  EXPECT_EQ(line.value(Option::kPackName), "x");
}

TEST(CommandLineTest, UnknownArgumentsAreThoseNoOptionMatchesNorTakesAsValue) {
  const struct {
    std::vector<const char*> args;
    std::vector<std::string> unknown;
  } cases[] = {
      {{"-de", "-sw=update", "-df"}, {"-sw=update"}},
      {{"-sw", "update", "-x", "-x", "plain"}, {"-x", "plain"}},  // each named once
      {{"-log", "-v", "-mbts", "a", "b"}, {}},                    // values, however they look
      {{"-sp", "one", "-sp", "two"}, {}},  // an overridden occurrence's value too
      {{"-SW", "dir", "-All"}, {}},
      {{"-sw"}, {}},  // the missing value is another message
  };
  for (const auto& c : cases) EXPECT_EQ(UnknownArguments(ParseArgs(c.args)), c.unknown);
  EXPECT_EQ(UnknownArgumentMessage("-sw=update"),
            "marovetin: ignoring unknown argument -sw=update\n");
}

}  // namespace
}  // namespace launcher

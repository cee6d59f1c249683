// Name rules: which added names pass through which filter.
#include "name_rule.h"

#include <gtest/gtest.h>

namespace {

TEST(NameRuleTest, AddingTheSamePatternTwiceKeepsOneRule) {
  pkfs::NameRuleList rules;
  rules.AddNameRule("txt", 0);
  rules.AddNameRule("TXT", 4);
  ASSERT_EQ(rules.rules().size(), 1u);
  EXPECT_EQ(rules.rules()[0].pattern, "TXT");
  EXPECT_EQ(rules.rules()[0].encoderId, 4);
  EXPECT_EQ(rules.rules()[0].encode, 1);
  EXPECT_EQ(rules.rules()[0].compress, 0);
  EXPECT_EQ(rules.rules()[0].matchKind, 0);
}

TEST(NameRuleTest, SubstringRulesMatchAnywhereInTheName) {
  pkfs::NameRuleList rules;
  rules.AddNameRule("txt", 0);
  rules.AddNameRule("xml", 2);
  std::uint16_t id = 99;
  EXPECT_TRUE(rules.MatchInPlaceRule("DATA/A.TXT", &id));
  EXPECT_EQ(id, 0);
  EXPECT_TRUE(rules.MatchInPlaceRule("XMLDATA/A.BIN", &id));
  EXPECT_EQ(id, 2);
  EXPECT_FALSE(rules.MatchInPlaceRule("DATA/A.BIN", &id));
  EXPECT_FALSE(rules.MatchInPlaceRule("data/a.txt", &id)) << "names are compared as given";
  std::uint16_t compressor = 99;
  EXPECT_FALSE(rules.MatchResizingRule("DATA/A.TXT", &compressor));
}

TEST(NameRuleTest, TheFirstMatchingRuleDecides) {
  pkfs::NameRuleList rules;
  rules.AddNameRule("A", 1);
  rules.AddNameRule("A.TXT", 2);
  std::uint16_t id = 0;
  EXPECT_TRUE(rules.MatchInPlaceRule("DATA/A.TXT", &id));
  EXPECT_EQ(id, 1);
  rules.AddNameRule("", 3);
  EXPECT_TRUE(rules.MatchInPlaceRule("ZZZ", &id)) << "an empty pattern matches every name";
  EXPECT_EQ(id, 3);
}

TEST(NameRuleTest, StarDotPatternsMatchTheWholeNameOnly) {
  pkfs::NameRuleList rules;
  rules.AddNameRule("*.ini", 6);
  EXPECT_EQ(rules.rules()[0].matchKind, 1);
  EXPECT_EQ(rules.rules()[0].pattern, "*.INI");
  std::uint16_t id = 0;
  EXPECT_FALSE(rules.MatchInPlaceRule("A.INI", &id));
  EXPECT_TRUE(rules.MatchInPlaceRule("*.INI", &id));
  EXPECT_EQ(id, 6);
}

}  // namespace

#include "update/source_ledger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using update::SourceLedger;

TEST(SourceLedgerTest, OneFileUnderEverySpellingAndTheLaterOfTwoLandingNamesWins) {
  EXPECT_EQ(SourceLedger::Key("up\\Pak\\\\a.txt"), "up/Pak/a.txt");
  EXPECT_EQ(SourceLedger::Key("up//Pak/a.txt"), "up/Pak/a.txt");

  SourceLedger ledger;
  // Records made under one spelling are found under the other.
  EXPECT_TRUE(ledger.NoteKeptBack("up\\Pak\\a.txt"));
  EXPECT_FALSE(ledger.NoteKeptBack("up/Pak/a.txt"));  // said once
  EXPECT_TRUE(ledger.IsKeptBack("up//Pak/a.txt"));
  EXPECT_EQ(ledger.keptBackCount(), 1u);
  ledger.NoteStoredInPack("up/Pak/b.bin");
  EXPECT_TRUE(ledger.WasStoredInPack("up\\Pak\\b.bin"));
  EXPECT_FALSE(ledger.WasStoredInPack("up/Pak/B.bin"));  // letter case is part of a file's name

  // Twins by letter case: each earlier one is overwritten by the next; the
  // same file met under two spellings overwrites nothing.
  ledger.PlanOverwrites({"up/Maps/x.dat", "up/maps/X.dat", "up\\maps\\X.dat", "up/MAPS/x.DAT",
                         "up/other.dat", "up/Other.dat"},
                        "up");
  const struct {
    const char* source;
    const char* overwrittenBy;  // null: nothing later takes its name
  } cases[] = {
      {"up/Maps/x.dat", "up/maps/X.dat"},
      {"up/maps/X.dat", "up/MAPS/x.DAT"},
      {"up\\maps\\X.dat", "up/MAPS/x.DAT"},
      {"up/MAPS/x.DAT", nullptr},
      {"up/other.dat", "up/Other.dat"},
      {"up/Other.dat", nullptr},
      {"up/none.dat", nullptr},
  };
  for (const auto& c : cases) {
    const std::string* later = ledger.OverwrittenBy(c.source);
    if (c.overwrittenBy == nullptr) {
      EXPECT_EQ(later, nullptr) << c.source;
    } else {
      ASSERT_NE(later, nullptr) << c.source;
      EXPECT_EQ(*later, c.overwrittenBy) << c.source;
    }
  }
}

}  // namespace

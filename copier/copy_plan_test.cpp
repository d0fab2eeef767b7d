#include "copier/copy_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

using testing::TempGame;

TEST(SkipNamesTest, AreThe54NamesInTheirOrder) {
  const std::vector<std::string> expected = {
      "AUSTRALIA.MAS",    "AUSTRALIAMAP.MAS",    "AUSTRALIA.BIK",    "AUSTRIA.MAS",      "AUSTRIAMAP.MAS",
      "AUSTRIA.BIK",      "Belgium.MAS",         "BelgiumMAP.MAS",   "Belgium.BIK",      "Brazil.MAS",
      "BrazilMAP.MAS",    "Brazil.BIK",          "Canada.MAS",       "CanadaMAP.MAS",    "Canada.BIK",
      "Europe.MAS",       "EuropeMAP.MAS",       "Europe.BIK",       "France.MAS",       "FranceMAP.MAS",
      "France.BIK",       "Germany.MAS",         "GermanyMAP.MAS",   "Germany.BIK",      "GreatBritain.MAS",
      "GreatBritainMAP.MAS", "GreatBritain.BIK", "Hungary.MAS",      "HungaryMAP.MAS",   "Hungary.BIK",
      "Italy.MAS",        "ItalyMAP.MAS",        "Italy.BIK",        "Japan.MAS",        "JapanMAP.MAS",
      "Japan.BIK",        "Malaysia.MAS",        "MalaysiaMAP.MAS",  "Malaysia.BIK",     "Monaco.MAS",
      "MonacoMAP.MAS",    "Monaco.BIK",          "SanMarino.MAS",    "SanMarinoMAP.MAS", "SanMarino.BIK",
      "Spain.MAS",        "SpainMAP.MAS",        "Spain.BIK",        "UnitedStates.MAS", "UnitedStatesMAP.MAS",
      "UnitedStates.BIK", "ORDER.PIT",           "pits.mas",         "pitcrew.scr"};
  StringList names;
  AddSkipNames(names);
  std::vector<std::string> added;
  for (std::size_t i = 0; i < names.ListCount(); ++i) added.emplace_back(names.List(i));
  EXPECT_EQ(added, expected);
}

TEST(SkipNamesTest, MatchWholeNamesIgnoringCase) {
  StringList names;
  AddSkipNames(names);
  for (const char* name : {"monaco.mas", "Australia.Mas", "MONACOMAP.MAS", "pits.MAS", "order.pit"})
    EXPECT_TRUE(LeftOutNames(names).Has(name)) << name;
  for (const char* name : {"monaco.mas.old", "XAUSTRALIA.MAS", "AUSTRALIA.MAS.BAK", "Monaco.gdb"})
    EXPECT_FALSE(LeftOutNames(names).Has(name)) << name;
}

TEST(AiwRuleTest, LooksAtTheLastFourCharactersOnly) {
  StringList none;
  for (const char* name : {"x.aiw", "Monaco.AIW", "a.Aiw", ".AIW"}) EXPECT_TRUE(LeftOutNames(none).Has(name)) << name;
  for (const char* name : {"circuit1.aiwx", "AIW", "aiw.txt", "x.ai"}) EXPECT_FALSE(LeftOutNames(none).Has(name)) << name;
}

TEST(TargetFolderTest, UpperCasesBelowTheGameFolderAndRenamesSeason02) {
  const GameFolder game("/home/season02/Game");
  EXPECT_EQ(TargetFolder(game, "/home/season02/Game\\season02\\tracks\\Monaco"),
            "/home/season02/Game\\ZENTOSEASON\\TRACKS\\MONACO");
  EXPECT_EQ(TargetFolder(game, "/home/season02/Game\\Season02\\Tracks\\Season02Old"),
            "/home/season02/Game\\ZENTOSEASON\\TRACKS\\ZENTOSEASONOLD");
}

class FolderPairsTest : public ::testing::Test {
 protected:
  std::vector<std::pair<std::string, std::string>> Pairs() {
    auto fs = OpenFileSystem(temp_.game());
    FolderListing dir1(temp_.game());
    StringList dirs, dirs2;
    AddFolderPairs(temp_.game(), *fs, dir1, dirs, dirs2);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t j = 0; j < dirs.ListCount(); ++j) pairs.emplace_back(dirs.List(j), dirs2.List(j));
    return pairs;
  }
  std::string At(const char* relative) { return temp_.game().Join(relative); }

  TempGame temp_;
};

TEST_F(FolderPairsTest, PairsTheTrackFolderAndEachImmediateSubFolder) {
  temp_.MakeFolder("season02/tracks/Monaco/deeper");
  temp_.MakeFolder("season02/tracks/pits/crews");
  const auto pairs = Pairs();
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0], std::make_pair(At("season02\\tracks"), At("ZENTOSEASON\\tracks")));
  EXPECT_EQ(pairs[1], std::make_pair(At("season02\\tracks\\Monaco"), At("ZENTOSEASON\\TRACKS\\MONACO")));
  EXPECT_EQ(pairs[2], std::make_pair(At("season02\\tracks\\pits"), At("ZENTOSEASON\\TRACKS\\PITS")));
}

TEST_F(FolderPairsTest, ATrackFolderWithoutSubFoldersGivesOnePair) {
  temp_.Write("season02/tracks/file", "x");
  EXPECT_EQ(Pairs().size(), 1u);
}

TEST_F(FolderPairsTest, WithoutATrackFolderOnlyItsOwnPairAndNothingFromElsewhere) {
  // A "season02" folder without tracks: its siblings must not become pairs.
  temp_.MakeFolder("season02/other");
  temp_.MakeFolder("Options");
  const auto pairs = Pairs();
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].first, At("season02\\tracks"));
}

}  // namespace
}  // namespace velmora

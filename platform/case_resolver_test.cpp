#include "platform/case_resolver.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

using testing::TempGame;

TEST(CaseResolverTest, ExactNameWinsOverOtherSpellings) {
  TempGame temp;
  temp.Write("Season02/Tracks/a", "");
  temp.Write("season02/tracks/b", "");
  CaseResolver resolver(temp.root().string());
  const auto resolved = resolver.Resolve({"season02", "tracks"});
  EXPECT_TRUE(resolved.exists);
  EXPECT_EQ(resolved.path, temp.At("season02/tracks").string());
}

TEST(CaseResolverTest, FindsNamesWithLettersBeyondAToZInAnotherCase) {
  TempGame temp;
  temp.Write("season02/tracks/Zürich/évian.gdb", "");
  CaseResolver resolver(temp.root().string());
  const auto resolved = resolver.Resolve({"SEASON02", "TRACKS", "ZÜRICH", "ÉVIAN.GDB"});
  EXPECT_TRUE(resolved.exists);
  EXPECT_EQ(resolved.path, temp.At("season02/tracks/Zürich/évian.gdb").string());
}

TEST(CaseResolverTest, FindsANameInAnotherLetterCase) {
  TempGame temp;
  temp.Write("ZENTOSEASON/tracks/Monaco/x", "");
  CaseResolver resolver(temp.root().string());
  const auto resolved = resolver.Resolve({"ZENTOSeason", "TRACKS", "MONACO"});
  EXPECT_TRUE(resolved.exists);
  EXPECT_EQ(resolved.path, temp.At("ZENTOSEASON/tracks/Monaco").string());
}

TEST(CaseResolverTest, OfNamesDifferingOnlyInCaseTakesTheFirstInByteOrder) {
  TempGame temp;
  temp.MakeFolder("pits");
  temp.MakeFolder("Pits");
  temp.MakeFolder("PITS");
  CaseResolver resolver(temp.root().string());
  EXPECT_EQ(resolver.Resolve({"pItS"}).path, temp.At("PITS").string());
  EXPECT_EQ(resolver.Resolve({"Pits"}).path, temp.At("Pits").string());
}

TEST(CaseResolverTest, AMissingNameKeepsTheSpellingGivenFromThereOn) {
  TempGame temp;
  temp.MakeFolder("ZENTOSEASON");
  CaseResolver resolver(temp.root().string());
  const auto resolved = resolver.Resolve({"zentoseason", "Tracks", "Pits"});
  EXPECT_FALSE(resolved.exists);
  EXPECT_EQ(resolved.path, temp.At("ZENTOSEASON/Tracks/Pits").string());
}

TEST(CaseResolverTest, ReadsEachFolderOnceAndRemembersWhatItCreates) {
  TempGame temp;
  temp.Write("tracks/one", "");
  CaseResolver resolver(temp.root().string());
  ASSERT_TRUE(resolver.Resolve({"tracks", "ONE"}).exists);
  // Made behind the resolver's back: not seen, the folder is not read again.
  temp.Write("tracks/two", "");
  EXPECT_FALSE(resolver.Resolve({"tracks", "two"}).exists);
  resolver.Index(temp.At("tracks").string())->Add("two", DT_REG);
  EXPECT_TRUE(resolver.Resolve({"tracks", "TWO"}).exists);
}

}  // namespace
}  // namespace velmora

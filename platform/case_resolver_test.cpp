#include "platform/case_resolver.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

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

// Names read and names created since are one index: found exactly, in
// another case (whether created before or after the first such look-up),
// the first in byte order among spellings, and listed in byte order.
TEST(CaseResolverTest, NamesCreatedAndNamesReadAreFoundAlikeBeforeAndAfterACaseLookUp) {
  TempGame temp;
  temp.Write("tracks/b.dat", "");
  temp.Write("tracks/d.dat", "");
  CaseResolver resolver(temp.root().string());
  CaseResolver::FolderIndex& index = **resolver.Index(temp.At("tracks").string());
  index.Add("c.dat", DT_REG);
  EXPECT_EQ(index.Find("c.dat"), "c.dat");
  EXPECT_EQ(index.Find("C.DAT"), "c.dat") << "created before the first look-up in another case";
  index.Add("a.dat", DT_REG);
  EXPECT_EQ(index.Find("A.Dat"), "a.dat") << "created after it";
  index.Add("B.dat", DT_REG);  // before "b.dat" in byte order
  EXPECT_EQ(index.Find("b.DAT"), "B.dat");
  EXPECT_EQ(index.Find("b.dat"), "b.dat") << "the exact name wins";
  index.Add("d.dat", DT_DIR);
  EXPECT_EQ(index.TypeOf("d.dat"), DT_DIR);
  EXPECT_EQ(index.Find("e.dat"), std::nullopt);
  std::vector<std::string> names;
  index.ForEachSorted([&](std::string_view name, unsigned char) { names.emplace_back(name); });
  EXPECT_EQ(names, (std::vector<std::string>{"B.dat", "a.dat", "b.dat", "c.dat", "d.dat"}));
}

// Thousands of names sharing a long start, as a circuit's files do, some
// also alike for the first eight bytes after it: listed in byte order
// (bytes from 0x80 up after ASCII, a shorter name before its longer
// forms), and each found exactly and in another case once the tables
// have grown many times.
TEST(CaseResolverTest, ManyNamesWithALongSharedStartAreListedInByteOrderAndFound) {
  CaseResolver::FolderIndex index;
  std::vector<std::string> names;
  for (int i = 0; i < 5000; ++i) names.push_back("Monaco_track_piece_" + std::to_string(i * 7919 % 5000) + ".dat");
  for (const char* odd : {"Monaco_track_piece_1.dat~", "Monaco_track_piece_1", "Monaco_track_piece_\xc3\xa9.dat",
                          "Monaco_track_piece_12345678a", "Monaco_track_piece_12345678B"})
    names.push_back(odd);
  for (const std::string& name : names) index.AddRead(name, DT_REG);
  std::vector<std::string> listed;
  index.ForEachSorted([&](std::string_view name, unsigned char) { listed.emplace_back(name); });
  std::vector<std::string> expected = names;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  for (const std::string& name : names) {
    EXPECT_EQ(index.Find(name), name);
    std::string other = name;
    for (char& c : other) c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(index.Find(other), name);
  }
  EXPECT_EQ(index.Find("Monaco_track_piece_5000.dat"), std::nullopt);
}

}  // namespace
}  // namespace velmora

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>

#include "finder/finder_disk.h"
#include "finder/vdf.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

// libraryfolders.vdf as Steam writes it since 2021, and as it did before:
// each library under a number, a block with its path, or the path itself.
TEST(VdfTest, ReadsBlocksEscapesCommentsAndConditionsAndBothLibraryFormats) {
  const std::vector<VdfNode> now = ParseVdf(
      "// written by Steam\n\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"C:\\\\Program Files (x86)\\\\Steam\"\n"
      "\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"0\"\n\t\t}\n\t}\n\t\"1\" [$WIN32]\n\t{\n\t\t\"path\"\t\"D:\\\\Games\"\n\t}\n}\n");
  const VdfNode* folders = FindVdfBlock(now, "LibraryFolders");
  ASSERT_NE(folders, nullptr);
  ASSERT_EQ(folders->children.size(), 2u);
  EXPECT_EQ(folders->children[0].ValueOf("path"), "C:\\Program Files (x86)\\Steam");
  EXPECT_EQ(folders->children[0].ValueOf("apps"), "") << "a block has no value";
  EXPECT_EQ(folders->children[1].ValueOf("PATH"), "D:\\Games");
  const std::vector<VdfNode> before = ParseVdf(
      "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1700000000\"\n\t\"1\"\t\t\"/mnt/games/Steam \\\"quoted\\\"\"\n}\n");
  ASSERT_NE(FindVdfBlock(before, "libraryfolders"), nullptr);
  EXPECT_EQ(FindVdfBlock(before, "libraryfolders")->ValueOf("1"), "/mnt/games/Steam \"quoted\"");
}

// A manifest's own keys, not those of a block inside it; a file cut short,
// unbalanced or nested without end gives what could be read.
TEST(VdfTest, TakesAnAppsOwnKeysAndSurvivesBrokenOrEndlessText) {
  const std::vector<VdfNode> manifest = ParseVdf(
      "\"AppState\"\n{\n\t\"UserConfig\"\n\t{\n\t\t\"appid\"\t\"1\"\n\t}\n\t\"appid\"\t\t\"2298610\"\n"
      "\t\"installdir\"\t\t\"Dromvik\"\n}\n");
  ASSERT_NE(FindVdfBlock(manifest, "AppState"), nullptr);
  EXPECT_EQ(FindVdfBlock(manifest, "AppState")->ValueOf("appid"), "2298610");
  EXPECT_EQ(FindVdfBlock(ParseVdf("\"AppState\" { \"appid\" \"7\" \"installdir\" \"Dro"), "AppState")->ValueOf("appid"), "7");
  EXPECT_TRUE(ParseVdf("}}}").empty());
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "\"k\" {";
  EXPECT_EQ(ParseVdf(deep).size(), 1u);  // no stack overflow
  const std::string binary("\x00\x01\x02\"a\"\xff\"b\"", 10);
  EXPECT_EQ(ParseVdf(binary).size(), 2u);  // read as words, whatever they are
}

// Only regular files are read, at most the share's size, into one buffer;
// a pipe holds nothing up; a folder that is not there costs nothing.
TEST(FinderDiskTest, ReadsRegularFilesOnlyBoundedAndCountsWhatItOpened) {
  testing::TempGame home;
  home.Write("small.json", "{}");
  home.Write("huge.yml", std::string(3 << 20, 'x'));
#ifndef _WIN32
  ASSERT_EQ(mkfifo(home.At("pipe.vdf").c_str(), 0600), 0);
#else
  home.MakeFolder("pipe.vdf");  // a folder named like a file, Windows having no pipes on its disks
#endif
  FinderDisk disk({.folders = 2, .files = 3, .file_size = 256 * 1024});
  EXPECT_EQ(disk.Read(home.At("small.json").string()), "{}");
  EXPECT_EQ(disk.Read(home.At("huge.yml").string()).size(), 256u * 1024);
  EXPECT_TRUE(disk.Read(home.At("pipe.vdf").string()).empty());
  EXPECT_TRUE(disk.Read(home.At("missing").string()).empty());
  EXPECT_EQ(disk.files_read(), 2);
  EXPECT_EQ(disk.bytes_read(), 2u + 256 * 1024);
  home.MakeFolder("a/b");
  EXPECT_TRUE(disk.List(home.At("gone").string()).empty());
  EXPECT_EQ(disk.folders_opened(), 0);
  EXPECT_EQ(disk.List(home.root().string()).size(), 4u);
  EXPECT_EQ(disk.List(home.At("a").string()).size(), 1u);
  EXPECT_TRUE(disk.Spent());
  EXPECT_TRUE(disk.List(home.At("a/b").string()).empty());
  EXPECT_EQ(disk.folders_opened(), 2);
  EXPECT_TRUE(disk.SameFile(home.At("a").string(), home.At("a/b/..").string()));
}

TEST(FinderDiskTest, JoinsAndSplitsPathsTheSystemsWay) {
#ifdef _WIN32
  EXPECT_EQ(JoinPath("C:\\Games", "Dromvik"), "C:\\Games\\Dromvik");
  EXPECT_EQ(ParentOf("C:\\Games\\Dromvik\\"), "C:\\Games");
  EXPECT_EQ(ParentOf("C:\\Games"), "C:\\");
  EXPECT_EQ(NameOf("c:/program files/Dromvik"), "Dromvik");
  EXPECT_EQ(NamesOf("C:\\a\\b"), (std::vector<std::string>{"C:", "a", "b"}));
#else
  EXPECT_EQ(JoinPath("/home/p", "Games"), "/home/p/Games");
  EXPECT_EQ(JoinPath("/", "home"), "/home");
  EXPECT_EQ(ParentOf("/home/p/Games/"), "/home/p");
  EXPECT_EQ(ParentOf("/home"), "/");
  EXPECT_EQ(NameOf("/home/p/Games/"), "Games");
  EXPECT_EQ(NamesOf("/a/b"), (std::vector<std::string>{"/", "a", "b"}));
#endif
}

}  // namespace
}  // namespace velmora

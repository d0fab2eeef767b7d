#include "platform/game_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

TEST(GameFolderTest, JoinsAndParsesPathsBelowTheFolder) {
  const GameFolder game("/games/f1");
  EXPECT_EQ(game.Join("season02\\tracks"), "/games/f1\\season02\\tracks");
  EXPECT_EQ(game.Parse("/games/f1\\season02\\tracks\\"), (GamePath{"season02", "tracks"}));
  EXPECT_EQ(game.Parse("/games/f1"), GamePath{});
}

TEST(GameFolderTest, RefusesPathsOutsideTheFolderOrWithDotNames) {
  const GameFolder game("/games/f1");
  EXPECT_FALSE(game.Parse("/games/f2\\x"));
  EXPECT_FALSE(game.Parse("/games/f1x\\a"));
  EXPECT_FALSE(game.Parse("/games/f1\\..\\etc"));
  EXPECT_FALSE(game.Parse("/games/f1\\a\\.\\b"));
  EXPECT_FALSE(game.Parse("/games/f1\\a/b"));
}

TEST(GameFolderTest, AGameFolderHoldsTheProgramTheConfigurationOrTheSeasonInAnyLetterCase) {
  testing::TempGame temp;
  EXPECT_FALSE(HoldsGame(temp.root().string()));
  temp.Write("readme.txt", "x");
  temp.MakeFolder("ZENTOSEASON");
  EXPECT_FALSE(HoldsGame(temp.root().string()));
  EXPECT_FALSE(HoldsGame(temp.At("missing").string()));
  for (const char* name : {"dromvik.EXE", "CONFIG.INI", "Season02"}) {
    testing::TempGame game;
    game.Write(name, "x");
    EXPECT_TRUE(HoldsGame(game.root().string())) << name;
  }
}

TEST(GameFolderTest, SafeNamesAreSinglePlainNames) {
  EXPECT_TRUE(IsSafeName("Monaco.MAS"));
  EXPECT_TRUE(IsSafeName(".hidden"));
  for (const char* name : {"", ".", "..", "a\\b", "a/b"}) EXPECT_FALSE(IsSafeName(name)) << name;
}

#ifndef _WIN32
TEST(GameFolderTest, StartedInAFolderSinceDeletedTheGameFolderHoldsNothing) {
  namespace fs = std::filesystem;
  const fs::path saved = fs::current_path();
  testing::TempGame temp;
  temp.Write("gone/season02/tracks/Monaco/a.gdb", "x");
  fs::current_path(temp.At("gone"));
  fs::remove_all(temp.At("gone"));
  const GameFolder game = GameFolder::Current();
  const auto files = OpenFileSystem(game);
  EXPECT_FALSE(files->FileExists({"season02", "tracks", "Monaco", "a.gdb"}));
  EXPECT_FALSE(files->WriteFile({"Qorvane.ini"}, "x"));
  fs::current_path(saved);
}
#endif

}  // namespace
}  // namespace velmora

#include "finder/game_chooser.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

#ifndef _WIN32
TEST(GameChooserTest, OpensInSteamsLibraryThenGamesThenBottlesElseHome) {
  testing::TempGame home;
  const std::string root = home.root().string();
  EXPECT_EQ(LinuxChooserStart(root), root);
  home.MakeFolder(".var/app/com.usebottles.bottles/data/bottles/bottles");
  EXPECT_EQ(LinuxChooserStart(root), root + "/.var/app/com.usebottles.bottles/data/bottles/bottles");
  home.MakeFolder("Games");
  EXPECT_EQ(LinuxChooserStart(root), root + "/Games");
  home.MakeFolder(".local/share/Steam/steamapps/common");
  EXPECT_EQ(LinuxChooserStart(root), root + "/.local/share/Steam/steamapps/common");
}

#endif

TEST(GameChooserTest, TheRememberedGameOpensTheChooserWhileItHoldsAGameAndIsForgottenOnceItDoesNot) {
  testing::TempGame game;
  game.Write("Dromvik.exe", "MZ");
  const std::string root = game.root().string();
  int forgotten = 0;
  const auto forget = [&] { ++forgotten; };
  EXPECT_EQ(ChooserStart(root, "/home", forget), root);
  EXPECT_EQ(ChooserStart("", "/home", forget), "/home");
  EXPECT_EQ(forgotten, 0);
  std::filesystem::remove(game.At("Dromvik.exe"));
  EXPECT_EQ(ChooserStart(root, "/home", forget), "/home");
  EXPECT_EQ(forgotten, 1);
}

TEST(GameChooserTest, AFolderThatIsGoneOpensTheChooserAtItsNearestExistingParent) {
  testing::TempGame home;
  const std::string root = home.root().string();
  const auto is_folder = [](const std::string& path) { return std::filesystem::is_directory(path); };
  home.MakeFolder("Games/Dromvik");
  EXPECT_EQ(NearestExistingFolder(root + "/Games/Dromvik", is_folder), root + "/Games/Dromvik");
  EXPECT_EQ(NearestExistingFolder(root + "/Games/Dromvk/season02", is_folder), root + "/Games");
  EXPECT_EQ(NearestExistingFolder("/no-such-folder-here/at/all", is_folder), "/");
  EXPECT_EQ(NearestExistingFolder("nowhere", is_folder), "");
}

}  // namespace
}  // namespace velmora

#include "app/game_chooser.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

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

}  // namespace
}  // namespace velmora

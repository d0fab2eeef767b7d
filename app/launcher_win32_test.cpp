// The Windows launcher starting the stand-in game, built beside this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/launcher.h"
#include "config/ini_rewriter.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

fs::path ThisProgramsFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

TEST(LauncherTest, StartsTheGameInTheGameFolderOnTheFileTheRewriterWrote) {
  testing::TempGame temp;
  fs::copy_file(ThisProgramsFolder() / "stand_in_game.exe", temp.At("Dromvik.exe"));
  temp.Write("Config.ini", "[Game Options]\r\nSEASONDIR=season02\\\r\n");
  StringList new_ini;
  CreateConfigIni(*OpenFileSystem(temp.game()), new_ini);
  // The utility is started in the game folder; Windows finds the game there.
  const fs::path before = fs::current_path();
  fs::current_path(temp.root());
  const bool started = LaunchGame(GameFolder::Current());
  fs::current_path(before);
  ASSERT_TRUE(started);
  for (int i = 0; i < 600 && !temp.Exists("launch-record.txt"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(temp.Read("launch-record.txt"), "arguments=-config=Qorvane.INI\ncwd=" + temp.root().string() +
                                                "\nseasondir=ZENTOSEASON\\\n");
}

}  // namespace
}  // namespace velmora

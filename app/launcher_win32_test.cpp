// The Windows launcher starting the stand-in game, built beside this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/launcher.h"
#include "config/ini_rewriter.h"
#include "platform/testing/injected.h"
#include "platform/testing/temp_game.h"
#include "platform/win32/calls.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

fs::path ThisProgramsFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(ThisProgramsFolder() / "stand_in_game.exe", temp_.At("Dromvik.exe"));
    temp_.Write("Config.ini", "[Game Options]\r\nSEASONDIR=season02\\\r\n");
    StringList new_ini;
    CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini);
  }

  // Starts the game as the utility does, from the game folder; what the
  // stand-in recorded.
  std::string Launch() {
    const fs::path before = fs::current_path();
    fs::current_path(temp_.root());
    const bool started = bool(LaunchGame(GameFolder::Current()));
    fs::current_path(before);
    EXPECT_TRUE(started);
    for (int i = 0; i < 600 && !temp_.Exists("launch-record.txt"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return temp_.Read("launch-record.txt");
  }

  std::string Expected() const {
    const std::string folder = fs::path(temp_.root()).make_preferred().string();
    return "arguments=-config=Qorvane.INI\ncwd=" + folder + "\nseasondir=ZENTOSEASON\\\nprogram=" + folder +
           "\\Dromvik.exe\n";
  }

  testing::TempGame temp_;
};

TEST_F(LauncherTest, StartsTheGameFoldersOwnGameNotOneBesideTheUtility) {
  // Windows would search the utility's own folder first.
  const fs::path beside = ThisProgramsFolder() / "Dromvik.exe";
  fs::copy_file(ThisProgramsFolder() / "stand_in_game.exe", beside, fs::copy_options::overwrite_existing);
  const std::string record = Launch();
  fs::remove(beside);
  EXPECT_EQ(record, Expected());
}

// What a start gives the game: the program, its arguments and its folder.
struct StartSeen {
  std::wstring program, arguments, folder;
};

TEST_F(LauncherTest, TheShellGetsTheSameArgumentsAndFolderAsAPlainStart) {
  testing::Injected injected(CurrentWin32Calls());
  StartSeen plain, shell;
  injected.calls().create_process = [&](const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                                        auto...) {
    plain = {application, command_line, folder};
    SetLastError(740);  // ERROR_ELEVATION_REQUIRED
    return FALSE;
  };
  injected.calls().shell_execute = [&](SHELLEXECUTEINFOW* execute) {
    shell = {execute->lpFile, execute->lpParameters, execute->lpDirectory};
    return TRUE;
  };
  const fs::path before = fs::current_path();
  fs::current_path(temp_.root());
  EXPECT_TRUE(LaunchGame(GameFolder::Current()));
  fs::current_path(before);

  const std::wstring folder = fs::path(temp_.root()).make_preferred().wstring();
  EXPECT_EQ(plain.arguments, L"Dromvik.exe -config=Qorvane.INI");
  EXPECT_EQ(shell.arguments, L"-config=Qorvane.INI");
  EXPECT_EQ(plain.folder, folder);
  EXPECT_EQ(shell.folder, folder);
  // Both name the game folder's own game, never one found elsewhere.
  EXPECT_EQ(plain.program, folder + L"\\Dromvik.exe");
  EXPECT_EQ(shell.program, plain.program);
}

TEST_F(LauncherTest, AGameThatNeedsElevationIsStartedThroughTheShell) {
  testing::Injected injected(CurrentWin32Calls());
  injected.calls().create_process = [](auto...) {
    SetLastError(740);  // ERROR_ELEVATION_REQUIRED
    return FALSE;
  };
  EXPECT_EQ(Launch(), Expected());
}

TEST_F(LauncherTest, AGameThatIsMissingOrThatWindowsRefusesIsToldWithWindowsReason) {
  testing::Injected injected(CurrentWin32Calls());
  injected.calls().create_process = [](auto...) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return FALSE;
  };
  const fs::path before = fs::current_path();
  fs::current_path(temp_.root());
  const LaunchOutcome refused = LaunchGame(GameFolder::Current());
  fs::remove(temp_.At("Dromvik.exe"));
  const LaunchOutcome missing = LaunchGame(GameFolder::Current());
  fs::current_path(before);
  EXPECT_EQ(refused.result, LaunchOutcome::Result::kStartFailed);
  EXPECT_FALSE(refused.failure.refusal.empty());
  EXPECT_EQ(refused.failure.refusal.find_first_of("\r\n"), std::string::npos) << refused.failure.refusal;
  // "Bad EXE format for %1." with the program in its place, and its full
  // stop left to the sentence it goes into.
  EXPECT_EQ(refused.failure.refusal.find("%1"), std::string::npos) << refused.failure.refusal;
  EXPECT_NE(refused.failure.refusal.back(), '.') << refused.failure.refusal;
  EXPECT_EQ(refused.tried, "Dromvik.exe");
  EXPECT_EQ(missing.result, LaunchOutcome::Result::kNoProgram);
}

}  // namespace
}  // namespace velmora

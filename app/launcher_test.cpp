#include "app/launcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

using testing::TempGame;
namespace fs = std::filesystem;

// A stand-in that records its arguments, working folder and parent.
constexpr const char* kRecorder =
    "#!/bin/sh\n"
    "{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; printf 'cwd=%s\\nppid=%s\\nprefix=%s\\n' "
    "\"$(pwd -P)\" \"$PPID\" \"$WINEPREFIX\"; } > \"$RECORD.tmp\" && mv \"$RECORD.tmp\" \"$RECORD\"\n";

void WriteProgram(const fs::path& path, std::string_view content) {
  fs::create_directories(path.parent_path());
  FILE* file = fopen(path.c_str(), "wb");
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);
  fs::permissions(path, fs::perms::owner_all);
}

std::string WaitForRecord(const fs::path& record) {
  for (int i = 0; i < 200 && !fs::exists(record); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  return testing::ReadWhole(record);
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = temp_.At("record.txt");
    setenv("RECORD", record_.c_str(), 1);
    old_path_ = getenv("PATH");
  }
  void TearDown() override {
    setenv("PATH", old_path_.c_str(), 1);
    unsetenv("WINEPREFIX");
  }

  TempGame temp_;
  fs::path record_;
  std::string old_path_;
};

TEST_F(LauncherTest, StartsTheGameWithOneArgumentInTheGameFolderDetached) {
  WriteProgram(temp_.At("Dromvik.exe"), kRecorder);
  ASSERT_TRUE(LaunchGame(temp_.game()));
  const std::string expected = std::string("-config=Qorvane.INI\ncwd=") +
                               fs::canonical(temp_.root()).string() + "\nppid=";
  const std::string record = WaitForRecord(record_);
  EXPECT_EQ(record.substr(0, expected.size()), expected);
  // Not our child: it was handed to init and needs no waiting for.
  EXPECT_EQ(record.find("\nppid=" + std::to_string(getpid()) + "\n"), std::string::npos);
}

TEST_F(LauncherTest, FindsTheProgramInAnotherLetterCase) {
  WriteProgram(temp_.At("DROMVIK.EXE"), kRecorder);
  ASSERT_TRUE(LaunchGame(temp_.game()));
  EXPECT_NE(WaitForRecord(record_).find("-config=Qorvane.INI"), std::string::npos);
}

TEST_F(LauncherTest, AMissingProgramStartsNothing) {
  EXPECT_FALSE(LaunchGame(temp_.game()));
}

TEST_F(LauncherTest, StartsAWindowsProgramThroughWineInItsPrefix) {
  TempGame prefix;
  prefix.Write("system.reg", "WINE REGISTRY\n");
  const GameFolder game(prefix.At("drive_c/Games/F1").string());
  WriteProgram(prefix.At("drive_c/Games/F1/dromvik.exe"), "MZ\x90\0 not really a program");
  WriteProgram(prefix.At("bin/wine"), kRecorder);
  setenv("PATH", (prefix.At("bin").string() + ":" + old_path_).c_str(), 1);
  unsetenv("WINEPREFIX");
  ASSERT_TRUE(LaunchGame(game));
  const std::string record = WaitForRecord(record_);
  EXPECT_EQ(record.substr(0, record.find("cwd=")), "dromvik.exe\n-config=Qorvane.INI\n");
  EXPECT_NE(record.find("prefix=" + prefix.root().string() + "\n"), std::string::npos);
}

TEST_F(LauncherTest, AWindowsProgramWithoutWineStartsNothing) {
  WriteProgram(temp_.At("Dromvik.exe"), "MZ");
  setenv("PATH", temp_.At("nothing-here").c_str(), 1);
  EXPECT_FALSE(LaunchGame(temp_.game()));
}

}  // namespace
}  // namespace velmora

#include "app/launcher.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "config/ini_rewriter.h"
#include "platform/posix/process_limits.h"
#include "platform/posix/unique_fd.h"
#include "platform/process.h"
#include "platform/testing/injected.h"
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
    // The player's own choices, which the test run may carry (scripts/test
    // sets a prefix for the real wine).
    if (const char* prefix = getenv("WINEPREFIX")) inherited_prefix_ = prefix;
    unsetenv("WINEPREFIX");
    unsetenv("WINE");
  }
  void TearDown() override {
    setenv("PATH", old_path_.c_str(), 1);
    unsetenv("WINEPREFIX");
    unsetenv("WINE");
  }

  TempGame temp_;
  fs::path record_;
  std::string old_path_;
  std::string inherited_prefix_;
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

using Result = LaunchOutcome::Result;

TEST_F(LauncherTest, AMissingProgramStartsNothingAndSaysSo) {
  EXPECT_EQ(LaunchGame(temp_.game()).result, Result::kNoProgram);
}

TEST_F(LauncherTest, APipeOrADeviceAtTheGamesNameStartsNothingAndHoldsNothingUp) {
  ASSERT_EQ(mkfifo(temp_.At("Dromvik.exe").c_str(), 0700), 0);
  EXPECT_EQ(LaunchGame(temp_.game()).result, Result::kNoProgram);  // would block on the pipe if it were read
  fs::remove(temp_.At("Dromvik.exe"));
  fs::create_symlink("/dev/zero", temp_.At("Dromvik.exe"));
  EXPECT_EQ(LaunchGame(temp_.game()).result, Result::kNoProgram);
}

// Swaps fork for one that fails in the process that calls it first
// (`first`) or only in the process forked from it (the middle process).
class FailingFork {
 public:
  explicit FailingFork(bool first) {
    parent_ = getpid();
    injected_.calls().fork_process = first ? +[] { return Fail(); }
                                           : +[] { return getpid() == parent_ ? int(fork()) : Fail(); };
  }

 private:
  static int Fail() {
    errno = EAGAIN;
    return -1;
  }
  static inline pid_t parent_ = 0;
  testing::Injected<PosixProcessCalls> injected_{CurrentPosixProcessCalls()};
};

TEST_F(LauncherTest, AFailedForkIsReportedWithTheSystemsReasonAndLeavesNoDescriptorOpen) {
  WriteProgram(temp_.At("Dromvik.exe"), kRecorder);
  const std::size_t before = OpenDescriptors();
  {
    FailingFork failing(/*first=*/true);
    const LaunchOutcome outcome = LaunchGame(temp_.game());
    EXPECT_EQ(outcome.result, Result::kStartFailed);
    EXPECT_EQ(outcome.reason, strerror(EAGAIN));
  }
  EXPECT_EQ(OpenDescriptors(), before);
  {
    FailingFork failing(/*first=*/false);
    const LaunchOutcome outcome = LaunchGame(temp_.game());
    EXPECT_EQ(outcome.result, Result::kStartFailed);
    EXPECT_EQ(outcome.reason, strerror(EAGAIN));
  }
  EXPECT_EQ(OpenDescriptors(), before);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(record_));
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

// A Windows game at drive_c/Games/F1 of a prefix, and a recording wine.
struct PrefixedGame {
  explicit PrefixedGame(const std::string& old_path, const char* prefix_name = "prefix") {
    prefix = outer.At(prefix_name);
    outer.Write(std::string(prefix_name) + "/system.reg", "WINE REGISTRY\n");
    WriteProgram(prefix / "drive_c/Games/F1/dromvik.exe", "MZ\x90\0 not really a program");
    WriteProgram(outer.At("bin/wine"), kRecorder);
    setenv("PATH", (outer.At("bin").string() + ":" + old_path).c_str(), 1);
    unsetenv("WINEPREFIX");
  }
  GameFolder game() const { return GameFolder((prefix / "drive_c/Games/F1").string()); }
  TempGame outer;
  fs::path prefix;
};

TEST_F(LauncherTest, AProtonPrefixOrAnotherUsersIsNeverRunByTheSystemsWineUnlessWinePrefixIsSet) {
  PrefixedGame proton(old_path_, "pfx");
  proton.outer.Write("version", "proton");
  EXPECT_EQ(LaunchGame(proton.game()).result, Result::kSteamPrefix);
  // Where Steam keeps Proton's prefixes, the path alone makes it Proton's.
  PrefixedGame bare(old_path_, "steamapps/compatdata/2670/pfx");
  EXPECT_EQ(LaunchGame(bare.game()).result, Result::kSteamPrefix);
  PrefixedGame others(old_path_);
  ASSERT_EQ(chown(others.prefix.c_str(), 12345, 12345), 0);
  EXPECT_EQ(LaunchGame(others.game()).result, Result::kForeignPrefix);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(record_));
  // The player's own choice of prefix is theirs to make.
  setenv("WINEPREFIX", "/somewhere/else", 1);
  ASSERT_TRUE(LaunchGame(proton.game()));
  EXPECT_NE(WaitForRecord(record_).find("prefix=/somewhere/else\n"), std::string::npos);
}

TEST_F(LauncherTest, AStarterThatEndsAtOnceWithAFailureIsToldWithWhatItSaidAndWhatWasTried) {
  PrefixedGame game(old_path_);
  const std::size_t before = OpenDescriptors();
  // Debian's wine without its 32-bit half.
  WriteProgram(game.outer.At("bin/wine"),
               "#!/bin/sh\necho 'wine: starting' >&2\n"
               "echo 'it looks like wine32 is missing, you should install it.' >&2\nexit 1\n");
  LaunchOutcome outcome = LaunchGame(game.game());
  EXPECT_EQ(outcome.result, Result::kStartFailed);
  EXPECT_EQ(outcome.tried, "wine (" + game.outer.At("bin/wine").string() + ")");
  EXPECT_EQ(outcome.reason,
            "ended at once with status 1. It said:\n\nwine: starting\n"
            "it looks like wine32 is missing, you should install it.");
  setenv("WINE", "/bin/false", 1);
  outcome = LaunchGame(game.game());
  EXPECT_EQ(outcome.result, Result::kStartFailed);
  EXPECT_EQ(outcome.tried, "the wine WINE names (WINE=/bin/false)");
  EXPECT_EQ(outcome.reason, "ended at once with status 1");
  setenv("WINE", "/nowhere/wine", 1);
  outcome = LaunchGame(game.game());
  EXPECT_EQ(outcome.result, Result::kStartFailed);
  EXPECT_EQ(outcome.reason, strerror(ENOENT));
  EXPECT_EQ(outcome.tried, "the wine WINE names (WINE=/nowhere/wine)");
  unsetenv("WINE");
  // A game that runs on past the watch is started.
  WriteProgram(game.outer.At("bin/wine"), "#!/bin/sh\necho 'fixme: running' >&2\nexec sleep 5\n");
  EXPECT_TRUE(LaunchGame(game.game()));
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(LauncherTest, WineNamedByTheWineVariableIsTheOneStarted) {
  PrefixedGame game(old_path_);
  fs::rename(game.outer.At("bin/wine"), game.outer.At("bin/lutris-wine"));
  setenv("WINE", game.outer.At("bin/lutris-wine").c_str(), 1);
  ASSERT_TRUE(LaunchGame(game.game()));
  EXPECT_NE(WaitForRecord(record_).find("prefix=" + game.prefix.string() + "\n"), std::string::npos);
}

TEST_F(LauncherTest, AGameFolderLinkedFromAPrefixRunsInThatPrefixFoundThroughPwd) {
  PrefixedGame game(old_path_);
  TempGame other_disk;
  fs::rename(game.prefix / "drive_c/Games/F1", other_disk.At("F1"));
  fs::create_directory_symlink(other_disk.At("F1"), game.prefix / "drive_c/Games/F1");
  const std::string linked = (game.prefix / "drive_c/Games/F1").string();
  const char* old_pwd = getenv("PWD");
  const std::string saved = old_pwd ? old_pwd : "";
  setenv("PWD", linked.c_str(), 1);
  const bool started = bool(LaunchGame(GameFolder(fs::canonical(linked).string())));
  setenv("PWD", saved.c_str(), 1);
  ASSERT_TRUE(started);
  EXPECT_NE(WaitForRecord(record_).find("prefix=" + game.prefix.string() + "\n"), std::string::npos);
}

TEST_F(LauncherTest, AWindowsProgramWithoutWineStartsNothing) {
  WriteProgram(temp_.At("Dromvik.exe"), "MZ");
  setenv("PATH", temp_.At("nothing-here").c_str(), 1);
  EXPECT_EQ(LaunchGame(temp_.game()).result, Result::kNoWine);
}

TEST_F(LauncherTest, AGameInASteamLibraryStartsThroughSteamAndAGameInABottleThroughBottlesOwnCommandLine) {
  // Below steamapps/common, whatever prefix ~/.wine is, the game is Proton's:
  // never the system's wine; Steam's own command once Steam's manifest names
  // the game's folder.
  TempGame steam;
  WriteProgram(steam.At("steamapps/common/F1/Dromvik.exe"), "MZ");
  WriteProgram(steam.At("bin/wine"), kRecorder);
  WriteProgram(steam.At("bin/steam"), kRecorder);
  setenv("PATH", (steam.At("bin").string() + ":" + old_path_).c_str(), 1);
  const GameFolder steam_game(steam.At("steamapps/common/F1").string());
  EXPECT_EQ(LaunchGame(steam_game).result, Result::kSteamPrefix);
  steam.Write("steamapps/appmanifest_2298610.acf",
              "\"AppState\"\n{\n\t\"appid\"\t\t\"2298610\"\n\t\"installdir\"\t\t\"F1\"\n}\n");
  ASSERT_TRUE(LaunchGame(steam_game));
  std::string record = WaitForRecord(record_);
  EXPECT_EQ(record.substr(0, record.find("cwd=")), "-applaunch\n2298610\n-config=Qorvane.INI\n");
  fs::remove(record_);

  PrefixedGame bottle(old_path_, "My Bottle");
  bottle.outer.Write("My Bottle/bottle.yml", "Arch: win32\nName: 'F1 Season'\nRunner: soda\n");
  EXPECT_EQ(LaunchGame(bottle.game()).result, Result::kBottlesPrefix);
  WriteProgram(bottle.outer.At("bin/bottles-cli"), kRecorder);
  ASSERT_TRUE(LaunchGame(bottle.game()));
  record = WaitForRecord(record_);
  EXPECT_EQ(record.substr(0, record.find("cwd=")),
            "run\n-b\nF1 Season\n-e\n" + (bottle.prefix / "drive_c/Games/F1/dromvik.exe").string() +
                "\n--args\n-config=Qorvane.INI\n");
}

// The real thing: a Windows stand-in for the game (built by the Windows
// cross-build, named by VELMORA_WINDOWS_GAME) started through the real wine.
TEST_F(LauncherTest, StartsAWindowsGameThroughRealWineOnTheFileTheRewriterWrote) {
  const char* stand_in = std::getenv("VELMORA_WINDOWS_GAME");
  if (!stand_in || !FindOnPath("wine"))
    GTEST_SKIP() << "needs wine and VELMORA_WINDOWS_GAME (scripts/test sets both up)";
  if (!inherited_prefix_.empty()) setenv("WINEPREFIX", inherited_prefix_.c_str(), 1);
  fs::copy_file(stand_in, temp_.At("Dromvik.exe"));
  temp_.Write("Config.ini", "[Game Options]\r\nSEASONDIR=season02\\\r\n");
  StringList new_ini;
  CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini);
  ASSERT_TRUE(LaunchGame(temp_.game()));
  const fs::path record = temp_.At("launch-record.txt");
  for (int i = 0; i < 1200 && !fs::exists(record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string wine_folder = "Z:" + fs::canonical(temp_.root()).string();
  std::replace(wine_folder.begin(), wine_folder.end(), '/', '\\');
  EXPECT_EQ(testing::ReadWhole(record),
            "arguments=-config=Qorvane.INI\ncwd=" + wine_folder + "\nseasondir=ZENTOSEASON\\\nprogram=" +
                wine_folder + "\\Dromvik.exe\n");
}

}  // namespace
}  // namespace velmora

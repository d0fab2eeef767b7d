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
    "{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; printf 'cwd=%s\\nppid=%s\\nprefix=%s\\nstarter=%s\\n' "
    "\"$(pwd -P)\" \"$PPID\" \"$WINEPREFIX\" \"$0\"; } > \"$RECORD.tmp\" && mv \"$RECORD.tmp\" \"$RECORD\"\n";

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
    // The game managers' records are read from the home folder.
    if (const char* home = getenv("HOME")) old_home_ = home;
    setenv("HOME", home_.root().c_str(), 1);
  }
  void TearDown() override {
    setenv("HOME", old_home_.c_str(), 1);
    setenv("PATH", old_path_.c_str(), 1);
    unsetenv("WINEPREFIX");
    unsetenv("WINE");
  }

  TempGame temp_;
  fs::path record_;
  std::string old_path_;
  std::string inherited_prefix_;
  TempGame home_;
  std::string old_home_;
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
    EXPECT_EQ(outcome.failure.refusal, strerror(EAGAIN));
  }
  EXPECT_EQ(OpenDescriptors(), before);
  {
    FailingFork failing(/*first=*/false);
    const LaunchOutcome outcome = LaunchGame(temp_.game());
    EXPECT_EQ(outcome.result, Result::kStartFailed);
    EXPECT_EQ(outcome.failure.refusal, strerror(EAGAIN));
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
  EXPECT_EQ(outcome.starter, LaunchOutcome::Starter::kWine);
  EXPECT_EQ(outcome.tried, game.outer.At("bin/wine").string());
  EXPECT_EQ(outcome.failure.status, 1u);
  EXPECT_EQ(outcome.failure.said, "wine: starting\nit looks like wine32 is missing, you should install it.");
  setenv("WINE", "/bin/false", 1);
  outcome = LaunchGame(game.game());
  EXPECT_EQ(outcome.result, Result::kStartFailed);
  EXPECT_EQ(outcome.starter, LaunchOutcome::Starter::kWineNamed);
  EXPECT_EQ(outcome.tried, "/bin/false");
  EXPECT_EQ(outcome.failure.status, 1u);
  EXPECT_EQ(outcome.failure.said, "");
  setenv("WINE", "/nowhere/wine", 1);
  outcome = LaunchGame(game.game());
  EXPECT_EQ(outcome.result, Result::kStartFailed);
  EXPECT_EQ(outcome.failure.refusal, strerror(ENOENT));
  EXPECT_EQ(outcome.tried, "/nowhere/wine");
  unsetenv("WINE");
  // A game that runs, and ends well, is started.
  WriteProgram(game.outer.At("bin/wine"), "#!/bin/sh\necho 'fixme: running' >&2\nexec sleep 1\n");
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
  // A library spelled SteamApps, a server installed in the same folder with
  // a lower id, and a pipe named like a manifest, which holds nothing up.
  fs::rename(steam.At("steamapps"), steam.At("SteamApps"));
  steam.Write("SteamApps/appmanifest_1000.acf",
              "\"AppState\"\n{\n\t\"appid\"\t\t\"1000\"\n\t\"name\"\t\t\"Dromvik Dedicated Server\"\n"
              "\t\"installdir\"\t\t\"F1\"\n}\n");
  ASSERT_EQ(mkfifo(steam.At("SteamApps/appmanifest_7.acf").c_str(), 0600), 0);
  ASSERT_TRUE(LaunchGame(GameFolder(steam.At("SteamApps/common/F1").string())));
  record = WaitForRecord(record_);
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

// The starter a record names.
std::string StarterOf(const std::string& record) {
  const std::size_t at = record.find("starter=");
  return at == std::string::npos ? "" : record.substr(at + 8, record.find('\n', at) - at - 8);
}

// A game installed by Heroic in ~/Games/Heroic, as GOG's install list and
// the game's settings record it; the system's wine is on PATH too, and must
// not be the one started.
TEST_F(LauncherTest, AHeroicGameRunsWithTheWineAndPrefixItsSettingsNameAndIsRefusedWhereHeroicUsesProton) {
  WriteProgram(home_.At("Games/Heroic/Dromvik/Dromvik.exe"), "MZ");
  WriteProgram(home_.At("bin/wine"), kRecorder);
  setenv("PATH", (home_.At("bin").string() + ":" + old_path_).c_str(), 1);
  const fs::path heroic_wine = home_.At(".config/heroic/tools/wine/Wine-GE-Proton8-26/bin/wine");
  WriteProgram(heroic_wine, kRecorder);
  home_.Write(".config/heroic/gog_store/installed.json",
              "{\"installed\": [{\"platform\": \"windows\", \"appName\": \"1207658930\", \"install_path\": \"" +
                  home_.At("Games/Heroic/Dromvik").string() + "\"}]}");
  const auto settings = [&](const std::string& bin, const std::string& type) {
    // Another game's entry first: only the game's own counts.
    home_.Write(".config/heroic/GamesConfig/1207658930.json",
                "{\"other\": {\"winePrefix\": \"/elsewhere\"},\n \"1207658930\": {\"autoInstallDxvk\": true, "
                "\"winePrefix\": \"~/Games/Heroic/Prefixes/default/Dromvik\", \"wineVersion\": {\"bin\": \"" + bin +
                    "\", \"name\": \"Wine - Wine-GE-Proton8-26\", \"type\": \"" + type + "\"}},\n \"version\": \"v0\"}");
  };
  const GameFolder game(home_.At("Games/Heroic/Dromvik").string());
  settings(heroic_wine.string(), "wine");
  ASSERT_TRUE(LaunchGame(game));
  std::string record = WaitForRecord(record_);
  EXPECT_EQ(StarterOf(record), heroic_wine.string());
  EXPECT_NE(record.find("prefix=" + home_.At("Games/Heroic/Prefixes/default/Dromvik").string() + "\n"), std::string::npos);
  fs::remove(record_);

  settings("/home/deck/.steam/root/compatibilitytools.d/GE-Proton9-2/proton", "proton");
  LaunchOutcome outcome = LaunchGame(game);
  EXPECT_EQ(outcome.result, Result::kManagerProton);
  EXPECT_EQ(outcome.manager, "Heroic");
  settings(home_.At("gone/bin/wine").string(), "wine");
  outcome = LaunchGame(game);
  EXPECT_EQ(outcome.result, Result::kManagerWineMissing);
  EXPECT_EQ(outcome.tried, home_.At("gone/bin/wine").string());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(record_)) << "started: " << testing::ReadWhole(record_);

  // A game installed inside the prefix its settings name is Heroic's too.
  PrefixedGame inside(old_path_);
  home_.Write(".config/heroic/GamesConfig/Dromvik.json",
              "{\"Dromvik\": {\"winePrefix\": \"" + inside.prefix.string() + "\", \"wineVersion\": {\"bin\": \"" +
                  heroic_wine.string() + "\", \"type\": \"wine\"}}}");
  const LaunchOutcome inside_outcome = LaunchGame(inside.game());
  ASSERT_TRUE(inside_outcome) << int(inside_outcome.result) << " " << inside_outcome.failure.refusal << " " << inside_outcome.tried;
  record = WaitForRecord(record_);
  EXPECT_EQ(StarterOf(record), heroic_wine.string());
  EXPECT_NE(record.find("prefix=" + inside.prefix.string() + "\n"), std::string::npos);
}

// A game of Lutris in a prefix of its own, whose game file names its wine
// runner: that runner's wine where it is installed; else the system's wine
// only where the system's wine made the prefix, never one that would
// update it.
TEST_F(LauncherTest, ALutrisGameRunsWithItsRunnerAndWithTheSystemsWineOnlyWhereThatMadeThePrefix) {
  PrefixedGame game(old_path_);
  // The system's wine, with its wine.inf where wine keeps it.
  game.outer.Write("share/wine/wine.inf", "[Version]\n");
  struct stat inf;
  ASSERT_EQ(stat(game.outer.At("share/wine/wine.inf").c_str(), &inf), 0);
  const fs::path runner = home_.At(".local/share/lutris/runners/wine/lutris-GE-Proton8-26-x86_64/bin/wine");
  WriteProgram(runner, kRecorder);
  // As Lutris writes it: PyYAML, a long value folded onto the next line.
  home_.Write(".local/share/lutris/games/dromvik-1700000000.yml",
              "game:\n  args: -windowed\n  exe: " + (game.prefix / "drive_c/Games/F1/dromvik.exe").string() +
                  "\n  prefix: " + game.prefix.string() +
                  "\nsystem:\n  version: ignored\nwine:\n  version:\n    lutris-GE-Proton8-26-x86_64\n");
  ASSERT_TRUE(LaunchGame(game.game()));
  std::string record = WaitForRecord(record_);
  EXPECT_EQ(StarterOf(record), runner.string());
  EXPECT_NE(record.find("prefix=" + game.prefix.string() + "\n"), std::string::npos);
  fs::remove(record_);

  // The runner removed, and the prefix last set up by another wine.
  fs::remove_all(home_.At(".local/share/lutris/runners"));
  game.outer.Write("prefix/.update-timestamp", std::to_string(inf.st_mtime + 1000) + "\n");
  const LaunchOutcome outcome = LaunchGame(game.game());
  EXPECT_EQ(outcome.result, Result::kManagerRunnerMissing);
  EXPECT_EQ(outcome.manager, "Lutris");
  EXPECT_EQ(outcome.runner, "lutris-GE-Proton8-26-x86_64");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(record_)) << "started: " << testing::ReadWhole(record_);

  // Made by the system's wine, or never to be updated: the system's wine.
  for (const std::string& stamp : {std::to_string(inf.st_mtime), std::string("disable")}) {
    game.outer.Write("prefix/.update-timestamp", stamp + "\n");
    ASSERT_TRUE(LaunchGame(game.game())) << stamp;
    record = WaitForRecord(record_);
    EXPECT_EQ(StarterOf(record), game.outer.At("bin/wine").string());
    EXPECT_NE(record.find("prefix=" + game.prefix.string() + "\n"), std::string::npos);
    fs::remove(record_);
  }
}

// The watch goes on after the start is made: `started` is called while the
// starter still runs, and a failure after it is told all the same.
TEST_F(LauncherTest, AStarterThatFailsLateIsToldAfterTheStartWasMade) {
  PrefixedGame game(old_path_);
  const fs::path release = game.outer.At("release");
  WriteProgram(game.outer.At("bin/wine"), "#!/bin/sh\nwhile [ ! -e '" + release.string() +
                                              "' ]; do sleep 0.05; done\necho 'wine: could not load kernel32.dll' >&2\nexit 1\n");
  bool started = false;
  const LaunchOutcome outcome = LaunchGame(game.game(), [&] {
    started = true;
    game.outer.Write("release", "");
  });
  EXPECT_TRUE(started);
  EXPECT_EQ(outcome.result, Result::kStartFailed);
  EXPECT_EQ(outcome.failure.status, 1u);
  EXPECT_EQ(outcome.failure.said, "wine: could not load kernel32.dll");
  // A starter that could not be run at all is never taken as started.
  started = false;
  setenv("WINE", "/nowhere/wine", 1);
  EXPECT_EQ(LaunchGame(game.game(), [&] { started = true; }).result, Result::kStartFailed);
  EXPECT_FALSE(started);
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

#pragma once

#include <functional>
#include <string>

#include "platform/game_folder.h"
#include "platform/process.h"

namespace velmora {

inline constexpr const char* kGameProgram = "Dromvik.exe";
inline constexpr const char* kGameArgument = "-config=Qorvane.INI";
// How long a start is watched for a starter that fails: on Linux a wine
// may build a prefix first, and fail only then.
#ifdef _WIN32
inline constexpr int kStartWatchMs = 3000;
#else
inline constexpr int kStartWatchMs = 30000;
#endif

// What "Run Velmora" came to.
struct LaunchOutcome {
  enum class Result {
    kStarted,
    kNoProgram,      // no Dromvik.exe in the game folder (or not a file)
    kNoWine,         // a Windows game and no wine to start it with
    kSteamPrefix,    // the game is Steam's: Proton's prefix, not the system wine's
    kBottlesPrefix,  // the game lies in a bottle, and Bottles cannot be reached
    kForeignPrefix,  // the game's Wine prefix belongs to another user
    kManagerProton,  // the game's manager (`manager`) runs it with Proton
    kManagerWineMissing,    // the wine the manager names (`reason`, at `tried`) is not there
    kManagerRunnerMissing,  // Lutris' runner (`reason`) is not installed, and the system's wine would update the prefix
    kStartFailed,    // the system refused the start, or the starter ended with a failure within the watch: `failure` says which
  };
  // What starts the game.
  enum class Starter {
    kGame,         // the game itself (Windows, or a Linux program)
    kWine,         // the wine found on PATH
    kWineNamed,    // the wine the WINE variable names
    kSteam,        // Steam's command line
    kBottles,      // Bottles' command line
    kManagerWine,  // the wine of the game's manager (`manager`)
  };
  Result result = Result::kStarted;
  Starter starter = Starter::kGame;
  // What was started, as the player would look for it: the program's path,
  // or the command line of Steam or Bottles; for kManagerWineMissing, the
  // wine the manager names.
  std::string tried = {};
  // The manager's wine or runner by its own name, when it names one.
  std::string runner = {};
  StartFailure failure = {};
  // The game manager whose settings the start follows: "Heroic", "Lutris".
  std::string manager = {};
  explicit operator bool() const { return result == Result::kStarted; }
};

// Starts the game in the game folder on the add-on's configuration file the
// way its manager starts it, and does not wait for it, but for a watch: a
// starter (wine, a manager's wine, Bottles' or Steam's command line) that
// ends with a failure within kStartWatchMs is told. `started` is called as
// soon as the start is made, while the watch goes on. A game of Heroic or
// Lutris runs with the wine and prefix they name; a game in a bottle through
// Bottles' own command line; a Steam game through Steam.
LaunchOutcome LaunchGame(const GameFolder& game, const std::function<void()>& started = {});

#ifndef _WIN32
// The path the player reached the game folder by: $PWD where it names the
// game folder (a link inside a Wine prefix, say), else its resolved path.
std::string GameFolderAsReached(const GameFolder& game);
#endif

}  // namespace velmora

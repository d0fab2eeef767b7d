#pragma once

#include <string>

#include "platform/game_folder.h"

namespace velmora {

inline constexpr const char* kGameProgram = "Dromvik.exe";
inline constexpr const char* kGameArgument = "-config=Qorvane.INI";
// How long a start is watched for a starter that fails at once.
inline constexpr int kStartWatchMs = 3000;

// What "Run Velmora" came to.
struct LaunchOutcome {
  enum class Result {
    kStarted,
    kNoProgram,      // no Dromvik.exe in the game folder (or not a file)
    kNoWine,         // a Windows game and no wine to start it with
    kSteamPrefix,    // the game is Steam's: Proton's prefix, not the system wine's
    kBottlesPrefix,  // the game lies in a bottle, and Bottles cannot be reached
    kForeignPrefix,  // the game's Wine prefix belongs to another user
    kStartFailed,    // the system refused the start, or the starter ended at once: `reason` says why
  };
  Result result = Result::kStarted;
  std::string reason = {};
  // What was started, as the player would look for it: "WINE=...", the
  // wine found on PATH, Bottles' command line, the game itself.
  std::string tried = {};
  explicit operator bool() const { return result == Result::kStarted; }
};

// Starts the game in the game folder on the add-on's configuration file and
// does not wait for it, but for a few seconds' watch: a starter (wine,
// Bottles' command line) that ends at once with a failure is told. A game in
// a bottle starts through Bottles' own command line, where it is there.
LaunchOutcome LaunchGame(const GameFolder& game);

}  // namespace velmora

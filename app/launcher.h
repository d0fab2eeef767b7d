#pragma once

#include <string>

#include "platform/game_folder.h"

namespace velmora {

inline constexpr const char* kGameProgram = "Dromvik.exe";
inline constexpr const char* kGameArgument = "-config=Qorvane.INI";

// What "Run Velmora" came to.
struct LaunchOutcome {
  enum class Result {
    kStarted,
    kNoProgram,      // no Dromvik.exe in the game folder (or not a file)
    kNoWine,         // a Windows game and no wine to start it with
    kSteamPrefix,    // the game is Steam's: Proton's prefix, not the system wine's
    kBottlesPrefix,  // the game lies in a bottle, and Bottles cannot be reached
    kForeignPrefix,  // the game's Wine prefix belongs to another user
    kStartFailed,    // the system refused the start: `reason` says why
  };
  Result result = Result::kStarted;
  std::string reason = {};
  explicit operator bool() const { return result == Result::kStarted; }
};

// Starts the game in the game folder on the add-on's configuration file and
// does not wait for it. A game in a bottle starts through Bottles' own
// command line, where it is there.
LaunchOutcome LaunchGame(const GameFolder& game);

}  // namespace velmora

#pragma once

#include "platform/game_folder.h"

namespace velmora {

inline constexpr const char* kGameProgram = "Dromvik.exe";
inline constexpr const char* kGameArgument = "-config=Qorvane.INI";

// Starts the game in the game folder on the add-on's configuration file and
// does not wait for it. False when it could not be started; the utility ends
// either way.
bool LaunchGame(const GameFolder& game);

}  // namespace velmora

#pragma once

// The last game folder the utility worked in, kept for the player: a start
// outside a game folder opens the chooser there. Kept as the system keeps a
// user's settings: on Linux in the XDG configuration folder
// (velmora/velmora.conf), on Windows in the current user's registry
// (HKEY_CURRENT_USER\Software\Velmora Config).
#include <string>

namespace velmora {

// Empty when none is kept.
std::string RememberedGameFolder();
void RememberGameFolder(const std::string& folder);
void ForgetGameFolder();

}  // namespace velmora

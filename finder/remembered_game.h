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
// With the Wine prefix the game was started in where the player named one
// (WINEPREFIX; Linux only), so that a later start there runs it the same way.
void RememberGameFolder(const std::string& folder, const std::string& wine_prefix = "");
void ForgetGameFolder();
// The prefix kept with the game folder; empty when none is.
std::string RememberedWinePrefix();

}  // namespace velmora

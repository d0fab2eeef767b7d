#pragma once

// Windows' file virtualization (User Account Control): a 32-bit program
// without requestedExecutionLevel in its manifest, run by a standard user,
// has each write it may not make below Program Files, ProgramData or
// Windows redirected to %LOCALAPPDATA%\VirtualStore\<the same path without
// the drive>, and reads the store's copy first (Windows Internals, 7th ed.,
// part 1, ch. 7; "User Account Control for game developers"). The old game
// is such a program. How the filter treats a create relative to a folder
// handle is not documented, so the utility turns virtualization off for
// itself and works on the game's view explicitly: it reads the store first,
// then the real folder, and writes only into the store.
#include <string>

namespace velmora {

struct GameView {
  // The game folder's twin in the VirtualStore; empty when the game sees
  // its real folder.
  std::wstring store;
  // The game's folder lies below a virtualized root, this user may not write
  // there, and the utility's own virtualization could not be turned off:
  // nothing is written, rather than something half redirected.
  bool writes_refused = false;
};

// How the game, run by this user, sees its folder `root`.
GameView GameViewOf(const std::wstring& root);

}  // namespace velmora

#pragma once

// The records of the game managers that keep a Wine prefix and a wine of
// their own for each game, Heroic and Lutris, read as they write them: where
// each game is installed, what they name it, and the wine and prefix they
// run it with. The search for installs takes the games from them; "Run
// Velmora" takes the wine and prefix, since the system's wine would make a
// prefix of its own or update the manager's for itself.
#include <optional>
#include <string>
#include <vector>

#include "finder/finder_disk.h"

namespace velmora {

// A game as its manager records it; any part may be unknown (empty).
struct ManagedGame {
  std::string manager = {};  // "Heroic", "Lutris"
  std::string name = {};     // the game's name in the manager
  std::string folder = {};   // where it is installed: the folder of its program
  std::string prefix = {};   // the Wine prefix it runs in
  std::string wine = {};     // Heroic: the wine its settings name (wineVersion.bin)
  std::string wine_type = {};  // Heroic: "wine", "proton", ...
  std::string runner = {};   // the wine as the manager names it ("Wine-GE-Proton8-26", "lutris-7.2-2-x86_64")
  std::string runners_folder = {};  // Lutris: where its wine runners are installed
};

// The games Heroic has installed or keeps settings for, below `home`.
std::vector<ManagedGame> HeroicGames(const std::string& home, FinderDisk& disk);
// The games whose Lutris game file names the program (Dromvik.exe), below `home`.
std::vector<ManagedGame> LutrisGames(const std::string& home, FinderDisk& disk);

// The name Bottles gives the bottle at `prefix` (its bottle.yml's Name),
// else its folder's.
std::string BottleName(const std::string& prefix, FinderDisk& disk);

struct ManagedWine {
  enum class Kind {
    kWine,           // run `wine` with WINEPREFIX set to `prefix`
    kProton,         // the manager runs it with Proton, which only the manager starts
    kWineMissing,    // the wine the manager names (`wine`) is not there
    kRunnerMissing,  // Lutris' runner is not installed, and the system's wine did not make the prefix
  };
  Kind kind = Kind::kWine;
  std::string manager;
  std::string wine;
  std::string prefix;
  std::string runner;
};

// How the manager runs the game in one of `game_paths`, or in `prefix`:
// Heroic's settings first, then Lutris' game files. Lutris' game runs with
// its runner's wine where that is installed; else with `system_wine`, where
// that made the prefix.
std::optional<ManagedWine> ManagedWineOf(const std::vector<std::string>& game_paths, const std::string& prefix,
                                         const std::string& home, const std::string& system_wine,
                                         FinderDisk& disk);

// Whether `wine` will run in `prefix` as it is: the prefix says it was last
// set up by that wine (its .update-timestamp holds the time of the wine's
// own wine.inf), or that it is never to be updated. Anything else, wine
// would update the prefix at its start.
bool WineKeepsPrefix(const std::string& prefix, const std::string& wine, FinderDisk& disk);

}  // namespace velmora

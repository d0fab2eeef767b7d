#pragma once

// How the game managers that keep a Wine prefix and a wine of their own for
// each game start it: Heroic's game settings and Lutris' game files name
// both, and the game must run with those, not with the system's wine, which
// would make a prefix of its own or update the manager's for itself.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct ManagedWine {
  enum class Kind {
    kWine,           // run `wine` with WINEPREFIX set to `prefix`
    kProton,         // the manager runs it with Proton, which only the manager starts
    kWineMissing,    // the wine the manager names (`wine`) is not there
    kRunnerMissing,  // Lutris' runner is not installed, and the system's wine did not make the prefix
  };
  Kind kind = Kind::kWine;
  std::string manager;  // "Heroic", "Lutris"
  std::filesystem::path wine;
  std::filesystem::path prefix;
  std::string runner;  // the wine as the manager names it ("Wine-GE-Proton8-26", "lutris-7.2-2-x86_64")
};

// The Heroic game installed in one of `game_paths`, or run in `prefix`,
// as its settings (GamesConfig/<app>.json) say it runs.
std::optional<ManagedWine> HeroicWineOf(const std::vector<std::filesystem::path>& game_paths,
                                        const std::optional<std::filesystem::path>& prefix,
                                        const std::filesystem::path& home);

// The Lutris game whose file (games/*.yml) names its program in one of
// `game_paths`, or `prefix` as its prefix: its runner's wine where that is
// installed; else `system_wine`, where that made the prefix.
std::optional<ManagedWine> LutrisWineOf(const std::vector<std::filesystem::path>& game_paths,
                                        const std::optional<std::filesystem::path>& prefix,
                                        const std::filesystem::path& home,
                                        const std::optional<std::filesystem::path>& system_wine);

// Whether `wine` will run in `prefix` as it is: the prefix says it was last
// set up by that wine (its .update-timestamp holds the time of the wine's
// own wine.inf), or that it is never to be updated. Anything else, wine
// would update the prefix at its start.
bool WineKeepsPrefix(const std::filesystem::path& prefix, const std::filesystem::path& wine);

}  // namespace velmora

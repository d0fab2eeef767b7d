#pragma once

// Steam's own files, read as Steam writes them: libraryfolders.vdf names the
// player's libraries, and each library's appmanifest_<id>.acf names the
// folder below steamapps/common that an app is installed in.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "finder/finder_disk.h"

namespace velmora {

// "steamapps" in any letter case: Steam on a disk that keeps letter case
// may have made it "SteamApps".
bool IsSteamAppsFolder(std::string_view name);

// The steamapps folders of the Steam installs at `roots` (each the folder
// holding steamapps), and of every library their libraryfolders.vdf lists,
// in its current form and the one before 2021; each once.
std::vector<std::string> SteamLibraries(const std::vector<std::string>& roots, FinderDisk& disk);

struct SteamApp {
  std::string id;
  std::string name;
};

// The app installed in `folder`, when it lies below a library's
// steamapps/common and that library's appmanifest_<id>.acf names its
// folder; of several apps installed in one folder, the game's own, not a
// server, tool or redistributable beside it.
std::optional<SteamApp> SteamAppOf(const std::string& folder, FinderDisk& disk);

}  // namespace velmora

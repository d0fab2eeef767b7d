// Where Linux players keep the game: Wine's prefixes, the records of Lutris,
// Heroic and Bottles, Steam's libraries and Proton's prefixes.
#include "finder/game_managers.h"
#include "finder/install_search.h"
#include "finder/steam_library.h"

namespace velmora {
namespace {

// "~/..." for a path below the home folder.
std::string Shown(const std::string& path, const std::string& home) {
  const std::string root = home + "/";
  return path.rfind(root, 0) == 0 ? "~/" + path.substr(root.size()) : path;
}

void AddManaged(const std::vector<ManagedGame>& games, InstallPlaces& places) {
  for (const ManagedGame& game : games) {
    if (!game.folder.empty()) places.push_back({InstallPlace::Kind::kGame, game.folder, game.manager, game.name});
    if (!game.prefix.empty()) places.push_back({InstallPlace::Kind::kPrefix, game.prefix, game.manager});
  }
}

}  // namespace

InstallPlaces KnownInstallPlaces(const std::string& home, const std::string& wine_prefix, FinderDisk& disk) {
  using Kind = InstallPlace::Kind;
  InstallPlaces places;
  // First the places that hold one game each: the prefix named, ~/.wine,
  // and the games and prefixes the managers record.
  if (!wine_prefix.empty()) places.push_back({Kind::kPrefix, wine_prefix, "Wine: " + Shown(wine_prefix, home)});
  places.push_back({Kind::kPrefix, JoinPath(home, ".wine"), "Wine: ~/.wine"});
  AddManaged(LutrisGames(home, disk), places);
  AddManaged(HeroicGames(home, disk), places);
  for (const char* bottles : {".local/share/bottles/bottles", ".var/app/com.usebottles.bottles/data/bottles/bottles"}) {
    const std::string folder = JoinPath(home, bottles);
    for (const FolderEntry& entry : disk.List(folder))
      if (entry.is_folder) places.push_back({Kind::kPrefix, JoinPath(folder, entry.name), "Bottles: " + entry.name});
  }
  // Then the wide ones, where there may be thousands.
  const std::string wineprefixes = JoinPath(home, ".local/share/wineprefixes");
  for (const FolderEntry& entry : disk.List(wineprefixes))
    if (entry.is_folder) places.push_back({Kind::kPrefix, JoinPath(wineprefixes, entry.name), "Wine: " + entry.name});
  places.push_back({Kind::kParent, JoinPath(home, "Games"), "~/Games"});
  for (const char* folder : {"Games/Heroic", "Games/Heroic/Prefixes/default", "Games/Heroic/Prefixes"})
    places.push_back({Kind::kParent, JoinPath(home, folder), "Heroic"});
  std::vector<std::string> roots;
  for (const char* root : {".steam/steam", ".steam/root", ".local/share/Steam",
                           ".var/app/com.valvesoftware.Steam/.local/share/Steam",
                           ".var/app/com.valvesoftware.Steam/data/Steam"})
    roots.push_back(JoinPath(home, root));
  const std::vector<std::string> libraries = SteamLibraries(roots, disk);
  for (const std::string& steamapps : libraries)
    places.push_back({Kind::kParent, JoinPath(steamapps, "common"), "Steam"});
  // Proton's prefixes hold games added to Steam from elsewhere; there may be
  // many, so they come last.
  for (const std::string& steamapps : libraries) {
    const std::string compatdata = JoinPath(steamapps, "compatdata");
    for (const FolderEntry& entry : disk.List(compatdata))
      if (entry.is_folder)
        places.push_back({Kind::kPrefix, JoinPath(JoinPath(compatdata, entry.name), "pfx"), "Steam: Proton " + entry.name});
  }
  return places;
}

}  // namespace velmora

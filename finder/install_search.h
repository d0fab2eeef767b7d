#pragma once

// Finds the game where players keep it, for the folder chooser: only the
// known places of Wine, Lutris, Bottles, Heroic, Steam and Windows' own
// records are looked in, never a walk of the disk, and what is opened is
// counted and capped (FinderDisk's share), the places that hold one game
// each before the wide ones.
#include <string>
#include <vector>

#include "finder/finder_disk.h"

namespace velmora {

// A folder holding Dromvik.exe, and the name the chooser gives it: the
// game's name in its manager, or its folder's, and where it was found,
// "Dromvik (Bottles: Games)".
struct FoundInstall {
  std::string folder;
  std::string label;
};

// A place to look in.
struct InstallPlace {
  enum class Kind {
    kGame,    // a folder that may be the game folder
    kPrefix,  // a Wine prefix: its install roots are looked in, two levels down
    kParent,  // a folder whose sub-folders may be game folders or Wine prefixes
  };
  Kind kind;
  std::string path;
  std::string where;      // the words telling where it lies
  std::string name = {};  // kGame: the game's name in its manager, if it has one
};
// In the order they are looked in.
using InstallPlaces = std::vector<InstallPlace>;

// The installs at `places`, each folder once, in the order of the places.
std::vector<FoundInstall> FindInstalls(const InstallPlaces& places, FinderDisk& disk);

// Where games are kept on this system: below `home` and the Wine prefix
// `wine_prefix` names on Linux; Windows' records and program folders there.
InstallPlaces KnownInstallPlaces(const std::string& home, const std::string& wine_prefix, FinderDisk& disk);

}  // namespace velmora

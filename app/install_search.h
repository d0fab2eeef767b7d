#pragma once

// Finds the game where players keep it, for the folder chooser: only the
// known places of Wine, Lutris, Bottles, Heroic, Steam and Windows' own
// records are looked in, never a walk of the disk, and the folders opened
// are counted and capped.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

// A folder holding Dromvik.exe, and the name the chooser gives it: the
// folder's and where it was found, "Dromvik (Bottles: Games)".
struct FoundInstall {
  std::filesystem::path folder;
  std::string label;
};

// Where a search looks, each place with the words telling where it lies.
struct InstallPlaces {
  struct Place {
    std::filesystem::path path;
    std::string where;
  };
  std::vector<Place> games;     // folders that may be the game folder
  std::vector<Place> parents;   // folders whose sub-folders may be game folders or Wine prefixes
  std::vector<Place> prefixes;  // Wine prefixes: their install roots are looked in, two levels down
  std::vector<Place> late_prefixes;  // prefixes looked in last, as there may be many (Proton's)
};

// The search's one way to the disk: it counts the folders it opens, and
// opens none once it has opened its share.
class FolderReader {
 public:
  explicit FolderReader(int max_folders = 400) : max_folders_(max_folders) {}
  struct Entry {
    std::string name;  // UTF-8
    bool is_folder;    // links followed
  };
  // The entries of `folder`; empty when it cannot be read, or the share is spent.
  std::vector<Entry> List(const std::filesystem::path& folder);
  int folders_opened() const { return folders_opened_; }

 private:
  int max_folders_;
  int folders_opened_ = 0;
};

// The installs at `places`, each folder once, in the order of the places.
std::vector<FoundInstall> FindInstalls(const InstallPlaces& places, FolderReader& reader);

// Where games are kept on this system: below `home` and the Wine prefix
// `wine_prefix` names on Linux; Windows' records and program folders there.
InstallPlaces KnownInstallPlaces(const std::filesystem::path& home, const std::string& wine_prefix,
                                 FolderReader& reader);

// The strings a JSON text gives `key` (`"key": "value"`), escapes undone
// (\uXXXX only as far as ASCII).
std::vector<std::string> JsonStrings(std::string_view text, std::string_view key);

// The values a YAML text gives `key` in lines of the form `key: value`,
// at any indent, quotes taken off.
std::vector<std::string> YamlValues(std::string_view text, std::string_view key);

}  // namespace velmora

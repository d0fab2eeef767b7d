#include "finder/install_search.h"

#include <algorithm>
#include <unordered_set>

#include "platform/ascii.h"

namespace velmora {
namespace {

constexpr std::string_view kProgram = "Dromvik.exe";
// Where Windows installers put games inside a prefix.
constexpr const char* kInstallRoots[] = {"Program Files (x86)", "Program Files", "Games", "GOG Games"};

bool HasProgram(const std::vector<FolderEntry>& entries) {
  return std::any_of(entries.begin(), entries.end(),
                     [](const FolderEntry& e) { return !e.is_folder && EqualsIgnoringCase(e.name, kProgram); });
}

bool HasFolder(const std::vector<FolderEntry>& entries, std::string_view name) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const FolderEntry& e) { return e.is_folder && e.name == name; });
}

class Search {
 public:
  explicit Search(FinderDisk& disk) : disk_(disk) {}

  // `folder` when it holds the game, else its sub-folders `levels` deep.
  void Consider(const std::string& folder, const std::string& where, int levels, const std::string& name = "") {
    if (disk_.Spent()) return;
#ifdef _WIN32
    // Names on Windows' disks match in any case: a look at the file opens
    // no folder.
    if (disk_.IsFile(JoinPath(folder, kProgram))) return Add(folder, where, name);
    if (levels == 0) return;
    const std::vector<FolderEntry> entries = disk_.List(folder);
#else
    const std::vector<FolderEntry> entries = disk_.List(folder);
    if (HasProgram(entries)) return Add(folder, where, name);
    if (levels == 0) return;
#endif
    for (const FolderEntry& entry : entries)
      if (entry.is_folder) Consider(JoinPath(folder, entry.name), where, levels - 1);
  }

  // The sub-folders of `parent`: each a game folder, or a Wine prefix
  // (Lutris' games in ~/Games) to look into.
  void ConsiderChildren(const std::string& parent, const std::string& where) {
    for (const FolderEntry& entry : disk_.List(parent)) {
      if (disk_.Spent()) return;
      if (!entry.is_folder) continue;
      const std::string child = JoinPath(parent, entry.name);
#ifdef _WIN32
      Consider(child, where, 0);
#else
      const std::vector<FolderEntry> entries = disk_.List(child);
      if (HasProgram(entries)) Add(child, where, "");
      else if (HasFolder(entries, "drive_c")) ConsiderPrefix(child, where + ": " + entry.name);
#endif
    }
  }

  // The install roots of a prefix, as its drive_c lists them: a folder
  // without one costs one look.
  void ConsiderPrefix(const std::string& prefix, const std::string& where) {
    if (disk_.Spent()) return;
    const std::string drive_c = JoinPath(prefix, "drive_c");
    const std::vector<FolderEntry> roots = disk_.List(drive_c);
    if (roots.empty() || !prefixes_seen_.insert(disk_.Identity(prefix)).second) return;
    for (const char* root : kInstallRoots)
      if (HasFolder(roots, root)) Consider(JoinPath(drive_c, root), where, 2);
  }

  std::vector<FoundInstall> TakeFound() { return std::move(found_); }

 private:
  void Add(std::string folder, const std::string& where, const std::string& name) {
    // "C:\\Games\\Dromvik\\", as installers write it.
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == kPathSeparator)) folder.pop_back();
    if (!games_seen_.insert(disk_.Identity(folder)).second) return;
    std::string label = (name.empty() ? NameOf(folder) : name) + " (" + where + ")";
    // Two installs named alike are told apart by where they lie.
    if (std::any_of(found_.begin(), found_.end(), [&](const FoundInstall& f) { return f.label == label; }))
      label += " in " + ParentOf(folder);
    found_.push_back({folder, std::move(label)});
  }

  FinderDisk& disk_;
  std::vector<FoundInstall> found_;
  std::unordered_set<std::string> games_seen_;
  std::unordered_set<std::string> prefixes_seen_;
};

}  // namespace

std::vector<FoundInstall> FindInstalls(const InstallPlaces& places, FinderDisk& disk) {
  Search search(disk);
  for (const InstallPlace& place : places) {
    if (disk.Spent()) break;
    switch (place.kind) {
      case InstallPlace::Kind::kGame:
        search.Consider(place.path, place.where, 0, place.name);
        break;
      case InstallPlace::Kind::kPrefix:
        search.ConsiderPrefix(place.path, place.where);
        break;
      case InstallPlace::Kind::kParent:
        search.ConsiderChildren(place.path, place.where);
        break;
    }
  }
  return search.TakeFound();
}

}  // namespace velmora

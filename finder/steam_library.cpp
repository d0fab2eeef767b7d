#include "finder/steam_library.h"

#include <algorithm>
#include <tuple>

#include "finder/vdf.h"
#include "platform/ascii.h"

namespace velmora {
namespace {

// What an app beside the game in the same install folder calls itself.
bool NamesAnExtra(std::string_view app_name) {
  const std::string name = ToUpperAscii(app_name);
  for (const char* word : {"SERVER", "TOOL", "SDK", "REDISTRIBUTABLE", "EDITOR", "SOUNDTRACK", "DEMO", "BENCHMARK"})
    if (name.find(word) != std::string::npos) return true;
  return false;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.size() <= 18 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The steamapps folder of a Steam install or library at `root`.
std::optional<std::string> SteamAppsOf(const std::string& root, FinderDisk& disk) {
  for (const char* name : {"steamapps", "SteamApps"})
    if (const std::string folder = JoinPath(root, name); disk.IsFolder(folder)) return folder;
  return std::nullopt;
}

}  // namespace

bool IsSteamAppsFolder(std::string_view name) { return EqualsIgnoringCase(name, "steamapps"); }

std::vector<std::string> SteamLibraries(const std::vector<std::string>& roots, FinderDisk& disk) {
  std::vector<std::string> libraries, seen;
  const auto add = [&](const std::string& root) {
    if (root.empty() || root.find('\0') != std::string::npos) return;
    const std::optional<std::string> steamapps = SteamAppsOf(root, disk);
    if (!steamapps) return;
    const std::string identity = disk.Identity(*steamapps);
    if (std::find(seen.begin(), seen.end(), identity) != seen.end()) return;
    seen.push_back(identity);
    libraries.push_back(*steamapps);
  };
  for (const std::string& root : roots) {
    add(root);
    const std::optional<std::string> steamapps = SteamAppsOf(root, disk);
    if (!steamapps) continue;
    const std::vector<VdfNode> vdf = ParseVdf(disk.Read(JoinPath(*steamapps, "libraryfolders.vdf")));
    const VdfNode* folders = FindVdfBlock(vdf, "libraryfolders");
    if (!folders) continue;
    // Each library under a number: a block with its "path" now, the path
    // itself before 2021.
    for (const VdfNode& library : folders->children) {
      if (!AllDigits(library.key)) continue;
      add(library.is_block ? library.ValueOf("path") : library.value);
    }
  }
  return libraries;
}

std::optional<SteamApp> SteamAppOf(const std::string& folder, FinderDisk& disk) {
  // The library is the folder above "steamapps/common/<install folder>".
  const std::vector<std::string> names = NamesOf(folder);
  for (std::size_t i = names.size(); i-- > 2;) {
    if (!EqualsIgnoringCase(names[i - 1], "common") || !IsSteamAppsFolder(names[i - 2])) continue;
    std::string steamapps;
    for (std::size_t j = 0; j < i - 1; ++j) steamapps = steamapps.empty() ? names[j] : JoinPath(steamapps, names[j]);
    const std::string& install_folder = names[i];
    // Of the apps installed in that folder, the game itself: not an extra,
    // then one Steam has made a prefix for, then the oldest.
    struct Candidate {
      bool extra, no_prefix;
      unsigned long long number;
      SteamApp app;
      bool operator<(const Candidate& other) const {
        return std::tie(extra, no_prefix, number) < std::tie(other.extra, other.no_prefix, other.number);
      }
    };
    std::optional<Candidate> best;
    for (const FolderEntry& entry : disk.List(steamapps)) {
      if (entry.is_folder || !entry.name.starts_with("appmanifest_") || !entry.name.ends_with(".acf")) continue;
      const std::vector<VdfNode> manifest = ParseVdf(disk.Read(JoinPath(steamapps, entry.name)));
      const VdfNode* state = FindVdfBlock(manifest, "AppState");
      if (!state) continue;
      // The app's own keys, not those of a block inside it.
      const std::string id = state->ValueOf("appid");
      if (!AllDigits(id) || !EqualsIgnoringCase(state->ValueOf("installdir"), install_folder)) continue;
      const std::string name = state->ValueOf("name");
      const Candidate candidate{NamesAnExtra(name),
                                !disk.IsFolder(JoinPath(JoinPath(JoinPath(steamapps, "compatdata"), id), "pfx")),
                                std::stoull(id), {id, name}};
      if (!best || candidate < *best) best = candidate;
    }
    if (best) return best->app;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace velmora

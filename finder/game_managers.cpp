#include "finder/game_managers.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>
#include <yaml-cpp/yaml.h>

#include "platform/ascii.h"

namespace velmora {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kProgram = "Dromvik.exe";

// A path as a manager wrote it, "~/" taken for the home folder; empty for
// one that cannot be a path (a NUL from "\u0000").
std::string Expanded(std::string_view text, const std::string& home) {
  if (text.find('\0') != std::string_view::npos) return "";
  if (text == "~" || text.starts_with("~/")) return JoinPath(home, text.substr(std::min<std::size_t>(2, text.size())));
  return std::string(text);
}

Json ReadJson(const std::string& file, FinderDisk& disk) {
  const std::string_view text = disk.Read(file);
  if (text.empty()) return nullptr;
  Json parsed = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  return parsed.is_discarded() ? Json(nullptr) : parsed;
}

std::string StringAt(const Json& object, const char* key) {
  if (!object.is_object()) return "";
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

const Json& ArrayAt(const Json& object, const char* key) {
  static const Json none = Json::array();
  if (!object.is_object()) return none;
  const auto found = object.find(key);
  return found != object.end() && found->is_array() ? *found : none;
}

// --- Heroic ---------------------------------------------------------------

constexpr const char* kHeroicConfigs[] = {".config/heroic", ".var/app/com.heroicgameslauncher.hgl/config/heroic"};

void ReadHeroic(const std::string& config, const std::string& home, FinderDisk& disk,
                std::map<std::string, ManagedGame>& games) {
  const auto installed = [&](const std::string& app, const std::string& folder, const std::string& title) {
    if (app.empty() || Expanded(folder, home).empty()) return;
    ManagedGame& game = games[app];
    game.manager = "Heroic";
    game.folder = Expanded(folder, home);
    if (!title.empty()) game.name = title;
  };
  // GOG: {"installed": [{"appName", "install_path"}]}
  const Json gog = ReadJson(JoinPath(config, "gog_store/installed.json"), disk);
  for (const Json& game : ArrayAt(gog, "installed"))
    installed(StringAt(game, "appName"), StringAt(game, "install_path"), StringAt(game, "title"));
  // Epic, through legendary: {"<app>": {"install_path", "title"}}
  const Json epic = ReadJson(JoinPath(config, "legendaryConfig/legendary/installed.json"), disk);
  if (epic.is_object())
    for (const auto& [app, game] : epic.items()) installed(app, StringAt(game, "install_path"), StringAt(game, "title"));
  // Amazon, through nile: [{"id", "path"}]
  const Json amazon = ReadJson(JoinPath(config, "nile_config/nile/installed.json"), disk);
  if (amazon.is_array())
    for (const Json& game : amazon) installed(StringAt(game, "id"), StringAt(game, "path"), "");
  // Added by hand: {"games": [{"app_name", "title", "install": {"executable"}}]}
  const Json sideloaded = ReadJson(JoinPath(config, "sideload_apps/library.json"), disk);
  for (const Json& game : ArrayAt(sideloaded, "games")) {
    const std::string program = game.contains("install") ? StringAt(game["install"], "executable") : "";
    if (!program.empty()) installed(StringAt(game, "app_name"), ParentOf(Expanded(program, home)), StringAt(game, "title"));
  }
  // Each game's settings: the entry under its app name in GamesConfig/<app>.json.
  const std::string settings = JoinPath(config, "GamesConfig");
  for (const FolderEntry& entry : disk.List(settings)) {
    if (entry.is_folder || !entry.name.ends_with(".json")) continue;
    const std::string app = entry.name.substr(0, entry.name.size() - 5);
    const Json file = ReadJson(JoinPath(settings, entry.name), disk);
    if (!file.is_object() || !file.contains(app) || !file[app].is_object()) continue;
    const Json& own = file[app];
    const Json wine = own.contains("wineVersion") ? own["wineVersion"] : Json(nullptr);
    ManagedGame& game = games[app];
    game.manager = "Heroic";
    game.prefix = Expanded(StringAt(own, "winePrefix"), home);
    game.wine = Expanded(StringAt(wine, "bin"), home);
    game.wine_type = StringAt(wine, "type");
    game.runner = StringAt(wine, "name");
  }
}

// --- Lutris ---------------------------------------------------------------

// Where Lutris keeps its game files, its runners and its settings.
struct LutrisPlace {
  const char* games;
  const char* data;
  const char* config;
};
constexpr LutrisPlace kLutrisPlaces[] = {
    {".local/share/lutris/games", ".local/share/lutris", ".config/lutris"},
    {".config/lutris/games", ".local/share/lutris", ".config/lutris"},
    {".var/app/net.lutris.Lutris/data/lutris/games", ".var/app/net.lutris.Lutris/data/lutris",
     ".var/app/net.lutris.Lutris/config/lutris"},
};

YAML::Node ReadYaml(std::string_view text) {
  if (text.empty()) return {};
  try {
    return YAML::Load(std::string(text));
  } catch (const YAML::Exception&) {
    return {};
  }
}

// A scalar at `path` below the top, as Lutris writes it; empty where there is none.
std::string YamlString(const YAML::Node& root, std::initializer_list<const char*> path) {
  try {
    // reset, not =: a node's = writes into the node it refers to.
    YAML::Node node;
    node.reset(root);
    for (const char* key : path) {
      if (!node.IsMap()) return "";
      node.reset(std::as_const(node)[key]);
    }
    return node && node.IsScalar() ? node.as<std::string>() : "";
  } catch (const YAML::Exception&) {
    return "";
  }
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
  const std::string upper = ToUpperAscii(word);
  for (std::size_t at = 0; at + word.size() <= text.size(); ++at)
    if (ToUpperAscii(text[at]) == upper[0] && EqualsIgnoringCase(text.substr(at, word.size()), word)) return true;
  return false;
}

}  // namespace

std::vector<ManagedGame> HeroicGames(const std::string& home, FinderDisk& disk) {
  std::vector<ManagedGame> found;
  for (const char* config : kHeroicConfigs) {
    std::map<std::string, ManagedGame> games;
    ReadHeroic(JoinPath(home, config), home, disk, games);
    for (auto& [app, game] : games) found.push_back(std::move(game));
  }
  return found;
}

std::vector<ManagedGame> LutrisGames(const std::string& home, FinderDisk& disk) {
  std::vector<ManagedGame> found;
  for (const LutrisPlace& place : kLutrisPlaces) {
    const std::string folder = JoinPath(home, place.games);
    for (const FolderEntry& entry : disk.List(folder)) {
      if (entry.is_folder || !entry.name.ends_with(".yml")) continue;
      // Only a file that names the program is worth parsing: Lutris may keep thousands.
      const std::string_view text = disk.Read(JoinPath(folder, entry.name));
      if (!ContainsIgnoringCase(text, kProgram)) continue;
      const YAML::Node file = ReadYaml(text);
      const std::string exe = YamlString(file, {"game", "exe"});
      if (!EqualsIgnoringCase(NameOf(exe), kProgram)) continue;
      ManagedGame game{"Lutris", YamlString(file, {"name"})};
      game.prefix = Expanded(YamlString(file, {"game", "prefix"}), home);
      std::string program = Expanded(exe, home);
      if (!program.empty() && program.front() != '/' && !game.prefix.empty()) program = JoinPath(game.prefix, program);
      game.folder = ParentOf(program);
      game.runners_folder = JoinPath(JoinPath(home, place.data), "runners/wine");
      // The wine runner the game's file names, else the one Lutris' wine
      // settings name for every game.
      game.runner = YamlString(file, {"wine", "version"});
      for (const char* settings : {place.config, place.data}) {
        if (!game.runner.empty()) break;
        game.runner = YamlString(ReadYaml(disk.Read(JoinPath(JoinPath(home, settings), "runners/wine.yml"))),
                                 {"wine", "version"});
      }
      found.push_back(std::move(game));
    }
  }
  return found;
}

std::string BottleName(const std::string& prefix, FinderDisk& disk) {
  const std::string name = YamlString(ReadYaml(disk.Read(JoinPath(prefix, "bottle.yml"))), {"Name"});
  return name.empty() ? NameOf(prefix) : name;
}

std::optional<ManagedWine> ManagedWineOf(const std::vector<std::string>& game_paths, const std::string& prefix,
                                         const std::string& home, const std::string& system_wine, FinderDisk& disk) {
  const auto ours = [&](const ManagedGame& game) {
    for (const std::string& path : game_paths)
      if (disk.SameFile(path, game.folder)) return true;
    return !prefix.empty() && disk.SameFile(prefix, game.prefix);
  };
  for (const ManagedGame& game : HeroicGames(home, disk)) {
    if (!ours(game) || (game.prefix.empty() && game.wine.empty())) continue;
    ManagedWine managed{ManagedWine::Kind::kWine, "Heroic", game.wine, game.prefix.empty() ? prefix : game.prefix,
                        game.runner};
    if (EqualsIgnoringCase(game.wine_type, "proton")) managed.kind = ManagedWine::Kind::kProton;
    else if (game.wine.empty() || !disk.IsFile(game.wine)) managed.kind = ManagedWine::Kind::kWineMissing;
    return managed;
  }
  for (const ManagedGame& game : LutrisGames(home, disk)) {
    if (!ours(game)) continue;
    ManagedWine managed{ManagedWine::Kind::kWine, "Lutris", "", game.prefix.empty() ? prefix : game.prefix,
                        game.runner};
    const bool system = game.runner.empty() || game.runner == "system";
    if (!system) {
      const std::string runner_wine = JoinPath(JoinPath(game.runners_folder, game.runner), "bin/wine");
      if (disk.IsFile(runner_wine)) {
        managed.wine = runner_wine;
        return managed;
      }
    }
    // Lutris' own runner is not there: the system's wine only where it will
    // leave the prefix as it is.
    if (!system_wine.empty() &&
        (game.runner == "system" || managed.prefix.empty() || WineKeepsPrefix(managed.prefix, system_wine, disk))) {
      managed.wine = system_wine;
      return managed;
    }
    managed.kind = ManagedWine::Kind::kRunnerMissing;
    return managed;
  }
  return std::nullopt;
}

bool WineKeepsPrefix(const std::string& prefix, const std::string& wine, FinderDisk& disk) {
  const std::string_view text = disk.Read(JoinPath(prefix, ".update-timestamp"));
  const std::string stamp(text.substr(0, std::min(text.find_first_of(" \t\r\n"), text.size())));
  if (stamp.starts_with("disable")) return true;
  if (stamp.empty()) return false;
  // Wine compares the stamp with the time of its own wine.inf, in the data
  // folder beside its bin folder.
  const std::unique_ptr<char, decltype(&free)> resolved(realpath(wine.c_str(), nullptr), &free);
  for (const std::string& program : {wine, std::string(resolved ? resolved.get() : "")}) {
    if (program.empty()) continue;
    struct stat st;
    const std::string inf = JoinPath(ParentOf(ParentOf(program)), "share/wine/wine.inf");
    if (stat(inf.c_str(), &st) == 0) return stamp == std::to_string(static_cast<long long>(st.st_mtime));
  }
  return false;
}

}  // namespace velmora

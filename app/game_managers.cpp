#include "app/game_managers.h"

#include <sys/stat.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>
#include <yaml-cpp/yaml.h>

#include "app/steam_library.h"
#include "platform/ascii.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, error);
}

bool AnyIs(const std::vector<fs::path>& paths, const fs::path& path) {
  for (const fs::path& known : paths)
    if (SameFile(known, path)) return true;
  return false;
}

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

// "~/Games/..." as Heroic may write it.
fs::path Expanded(std::string_view text, const fs::path& home) {
  if (text == "~" || text.starts_with("~/")) return home / PathOfUtf8(text.substr(std::min<std::size_t>(2, text.size())));
  return PathOfUtf8(text);
}

// The text of a JSON file; null when it is not there or not JSON.
Json ReadJson(const fs::path& file) {
  const std::string text = ReadSmallText(file);
  if (text.empty()) return nullptr;
  Json parsed = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  return parsed.is_discarded() ? Json(nullptr) : parsed;
}

std::string StringAt(const Json& object, const char* key) {
  if (!object.is_object()) return "";
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

// --- Heroic -------------------------------------------------------------

constexpr const char* kHeroicConfigs[] = {".config/heroic", ".var/app/com.heroicgameslauncher.hgl/config/heroic"};

// The app names of the games Heroic installed in one of `game_paths`, from
// the install lists of each store it serves and of the games added by hand.
std::vector<std::string> HeroicAppsIn(const fs::path& config, const std::vector<fs::path>& game_paths,
                                      const fs::path& home) {
  std::vector<std::string> apps;
  const auto consider = [&](const std::string& app, const std::string& folder) {
    if (!app.empty() && !folder.empty() && AnyIs(game_paths, Expanded(folder, home))) apps.push_back(app);
  };
  // GOG: {"installed": [{"appName", "install_path"}]}
  const Json gog = ReadJson(config / "gog_store/installed.json");
  if (gog.is_object() && gog.contains("installed") && gog["installed"].is_array())
    for (const Json& game : gog["installed"]) consider(StringAt(game, "appName"), StringAt(game, "install_path"));
  // Epic, through legendary: {"<app>": {"install_path"}}
  const Json epic = ReadJson(config / "legendaryConfig/legendary/installed.json");
  if (epic.is_object())
    for (const auto& [app, game] : epic.items()) consider(app, StringAt(game, "install_path"));
  // Amazon, through nile: [{"id", "path"}]
  const Json amazon = ReadJson(config / "nile_config/nile/installed.json");
  if (amazon.is_array())
    for (const Json& game : amazon) consider(StringAt(game, "id"), StringAt(game, "path"));
  // Added by hand: {"games": [{"app_name", "install": {"executable"}}]}
  const Json sideloaded = ReadJson(config / "sideload_apps/library.json");
  if (sideloaded.is_object() && sideloaded.contains("games") && sideloaded["games"].is_array()) {
    for (const Json& game : sideloaded["games"]) {
      const std::string program = game.contains("install") ? StringAt(game["install"], "executable") : "";
      if (!program.empty()) consider(StringAt(game, "app_name"), Utf8Of(Expanded(program, home).parent_path()));
    }
  }
  return apps;
}

// A game's settings: the entry under its app name in GamesConfig/<app>.json.
std::optional<ManagedWine> HeroicSettings(const Json& file, const std::string& app, const fs::path& home) {
  if (!file.is_object() || !file.contains(app) || !file[app].is_object()) return std::nullopt;
  const Json& game = file[app];
  const std::string prefix = StringAt(game, "winePrefix");
  const Json wine = game.contains("wineVersion") ? game["wineVersion"] : Json(nullptr);
  const std::string type = StringAt(wine, "type"), bin = StringAt(wine, "bin");
  if (prefix.empty() && bin.empty()) return std::nullopt;
  ManagedWine managed{ManagedWine::Kind::kWine, "Heroic", Expanded(bin, home), Expanded(prefix, home),
                      StringAt(wine, "name")};
  if (EqualsIgnoringCase(type, "proton")) managed.kind = ManagedWine::Kind::kProton;
  else if (bin.empty() || !IsFile(managed.wine)) managed.kind = ManagedWine::Kind::kWineMissing;
  return managed;
}

// --- Lutris -------------------------------------------------------------

// Where Lutris keeps its game files, and the folder its runners are
// installed in for each.
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

YAML::Node ReadYaml(const fs::path& file) {
  const std::string text = ReadSmallText(file);
  if (text.empty()) return {};
  try {
    return YAML::Load(text);
  } catch (const YAML::Exception&) {
    return {};
  }
}

// A scalar below `section`, as Lutris writes it; empty where there is none.
std::string YamlString(const YAML::Node& root, const char* section, const char* key) {
  try {
    const YAML::Node value = root[section][key];
    return value && value.IsScalar() ? value.as<std::string>() : "";
  } catch (const YAML::Exception&) {
    return "";
  }
}

// The wine runner the game's file names, else the one Lutris' wine
// settings name for every game.
std::string LutrisRunner(const YAML::Node& game, const fs::path& home, const LutrisPlace& place) {
  if (std::string version = YamlString(game, "wine", "version"); !version.empty()) return version;
  for (const char* folder : {place.config, place.data}) {
    const std::string version = YamlString(ReadYaml(home / folder / "runners/wine.yml"), "wine", "version");
    if (!version.empty()) return version;
  }
  return "";
}

std::optional<ManagedWine> LutrisGame(const YAML::Node& game, const std::vector<fs::path>& game_paths,
                                      const std::optional<fs::path>& prefix, const fs::path& home,
                                      const LutrisPlace& place, const std::optional<fs::path>& system_wine) {
  const std::string exe = YamlString(game, "game", "exe"), own_prefix = YamlString(game, "game", "prefix");
  fs::path program = Expanded(exe, home);
  if (!exe.empty() && program.is_relative() && !own_prefix.empty()) program = Expanded(own_prefix, home) / program;
  const bool ours = (!exe.empty() && AnyIs(game_paths, program.parent_path())) ||
                    (prefix && !own_prefix.empty() && SameFile(*prefix, Expanded(own_prefix, home)));
  if (!ours) return std::nullopt;
  ManagedWine managed{ManagedWine::Kind::kWine, "Lutris", {}, own_prefix.empty() ? prefix.value_or(fs::path()) : Expanded(own_prefix, home),
                      LutrisRunner(game, home, place)};
  const bool system = managed.runner.empty() || managed.runner == "system";
  if (!system) {
    const fs::path runner_wine = home / place.data / "runners/wine" / PathOfUtf8(managed.runner) / "bin/wine";
    if (IsFile(runner_wine)) {
      managed.wine = runner_wine;
      return managed;
    }
  }
  // Lutris' own runner is not there: the system's wine only where it will
  // leave the prefix as it is.
  if (system_wine && (managed.runner == "system" || managed.prefix.empty() || WineKeepsPrefix(managed.prefix, *system_wine))) {
    managed.wine = *system_wine;
    return managed;
  }
  managed.kind = ManagedWine::Kind::kRunnerMissing;
  return managed;
}

// The number at the start of a small file, or its first word.
std::string FirstWord(const fs::path& file) {
  const std::string text = ReadSmallText(file);
  const std::size_t end = text.find_first_of(" \t\r\n");
  return text.substr(0, end);
}

}  // namespace

std::optional<ManagedWine> HeroicWineOf(const std::vector<fs::path>& game_paths, const std::optional<fs::path>& prefix,
                                        const fs::path& home) {
  for (const char* folder : kHeroicConfigs) {
    const fs::path config = home / folder;
    for (const std::string& app : HeroicAppsIn(config, game_paths, home))
      if (auto managed = HeroicSettings(ReadJson(config / "GamesConfig" / (app + ".json")), app, home)) return managed;
    // A game installed inside its prefix is Heroic's when a game's settings name that prefix.
    if (!prefix) continue;
    std::error_code error;
    for (fs::directory_iterator entry(config / "GamesConfig", error), end; !error && entry != end; entry.increment(error)) {
      if (entry->path().extension() != ".json") continue;
      const std::string app = Utf8Of(entry->path().stem());
      auto managed = HeroicSettings(ReadJson(entry->path()), app, home);
      if (managed && SameFile(managed->prefix, *prefix)) return managed;
    }
  }
  return std::nullopt;
}

std::optional<ManagedWine> LutrisWineOf(const std::vector<fs::path>& game_paths, const std::optional<fs::path>& prefix,
                                        const fs::path& home, const std::optional<fs::path>& system_wine) {
  for (const LutrisPlace& place : kLutrisPlaces) {
    std::error_code error;
    for (fs::directory_iterator entry(home / place.games, error), end; !error && entry != end; entry.increment(error)) {
      if (entry->path().extension() != ".yml") continue;
      if (auto managed = LutrisGame(ReadYaml(entry->path()), game_paths, prefix, home, place, system_wine))
        return managed;
    }
  }
  return std::nullopt;
}

bool WineKeepsPrefix(const fs::path& prefix, const fs::path& wine) {
  const std::string stamp = FirstWord(prefix / ".update-timestamp");
  if (stamp.starts_with("disable")) return true;
  if (stamp.empty()) return false;
  // Wine compares the stamp with the time of its own wine.inf, in the data
  // folder beside its bin folder.
  std::error_code error;
  for (const fs::path& program : {wine, fs::canonical(wine, error)}) {
    if (program.empty()) continue;
    struct stat st;
    const fs::path inf = program.parent_path().parent_path() / "share/wine/wine.inf";
    if (stat(inf.c_str(), &st) == 0) return stamp == std::to_string(static_cast<long long>(st.st_mtime));
  }
  return false;
}

}  // namespace velmora

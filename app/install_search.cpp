#include "app/install_search.h"

#include <algorithm>
#include <cstdlib>

#include "app/launcher.h"
#include "app/steam_library.h"
#include "platform/ascii.h"

namespace velmora {
namespace fs = std::filesystem;

std::vector<FolderReader::Entry> FolderReader::List(const fs::path& folder) {
  std::vector<Entry> entries;
  if (folders_opened_ >= max_folders_) return entries;
  ++folders_opened_;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    entries.push_back({Utf8Of(it->path().filename()), it->is_directory(type_error)});
  }
  return entries;
}

namespace {

// Where Windows installers put games inside a prefix.
constexpr const char* kInstallRoots[] = {"Program Files (x86)", "Program Files", "Games", "GOG Games"};

#ifndef _WIN32
bool HasProgram(const std::vector<FolderReader::Entry>& entries) {
  return std::any_of(entries.begin(), entries.end(),
                     [](const FolderReader::Entry& e) { return !e.is_folder && EqualsIgnoringCase(e.name, kGameProgram); });
}

bool HasFolder(const std::vector<FolderReader::Entry>& entries, std::string_view name) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const FolderReader::Entry& e) { return e.is_folder && e.name == name; });
}
#endif

fs::path Canonical(const fs::path& path) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(path, error);
  return error ? path : canonical;
}

class Search {
 public:
  explicit Search(FolderReader& reader) : reader_(reader) {}

  // `folder` when it holds the game, else its sub-folders `levels` deep.
  void Consider(const fs::path& folder, const std::string& where, int levels) {
#ifdef _WIN32
    // Names on Windows' disks match in any case: a look at the file opens
    // no folder.
    std::error_code error;
    if (fs::is_regular_file(folder / kGameProgram, error)) return Add(folder, where);
    if (levels == 0) return;
    const std::vector<FolderReader::Entry> entries = reader_.List(folder);
#else
    const std::vector<FolderReader::Entry> entries = reader_.List(folder);
    if (HasProgram(entries)) return Add(folder, where);
    if (levels == 0) return;
#endif
    for (const FolderReader::Entry& entry : entries)
      if (entry.is_folder) Consider(folder / PathOfUtf8(entry.name), where, levels - 1);
  }

  // The sub-folders of `parent`: each a game folder, or a Wine prefix
  // (Lutris' games in ~/Games) to look into later.
  void ConsiderChildren(const fs::path& parent, const std::string& where,
                        [[maybe_unused]] std::vector<InstallPlaces::Place>& prefixes) {
    for (const FolderReader::Entry& entry : reader_.List(parent)) {
      if (!entry.is_folder) continue;
      const fs::path child = parent / PathOfUtf8(entry.name);
#ifdef _WIN32
      Consider(child, where, 0);
#else
      const std::vector<FolderReader::Entry> entries = reader_.List(child);
      if (HasProgram(entries)) Add(child, where);
      else if (HasFolder(entries, "drive_c")) prefixes.push_back({child, where + ": " + entry.name});
#endif
    }
  }

  void ConsiderPrefix(const fs::path& prefix, const std::string& where) {
    if (Seen(prefixes_seen_, prefix)) return;
    for (const char* root : kInstallRoots) Consider(prefix / "drive_c" / root, where, 2);
  }

  std::vector<FoundInstall> TakeFound() { return std::move(found_); }

 private:
  static bool Seen(std::vector<fs::path>& seen, const fs::path& path) {
    const fs::path canonical = Canonical(path);
    if (std::find(seen.begin(), seen.end(), canonical) != seen.end()) return true;
    seen.push_back(canonical);
    return false;
  }

  void Add(fs::path folder, const std::string& where) {
    if (!folder.has_filename()) folder = folder.parent_path();  // "C:\\Games\\Dromvik\\", as installers write it
    if (Seen(games_seen_, folder)) return;
    std::string label = Utf8Of(folder.filename()) + " (" + where + ")";
    // Two installs named alike are told apart by where they lie.
    if (std::any_of(found_.begin(), found_.end(), [&](const FoundInstall& f) { return f.label == label; }))
      label += " in " + Utf8Of(folder.parent_path());
    found_.push_back({folder, std::move(label)});
  }

  FolderReader& reader_;
  std::vector<FoundInstall> found_;
  std::vector<fs::path> games_seen_;
  std::vector<fs::path> prefixes_seen_;
};

std::size_t SkipSpaces(std::string_view text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) ++at;
  return at;
}

}  // namespace

std::vector<FoundInstall> FindInstalls(const InstallPlaces& places, FolderReader& reader) {
  Search search(reader);
  for (const auto& place : places.games) search.Consider(place.path, place.where, 0);
  std::vector<InstallPlaces::Place> prefixes;
  for (const auto& place : places.parents) search.ConsiderChildren(place.path, place.where, prefixes);
  // Prefixes named by their programs' own records come before those found by their look.
  prefixes.insert(prefixes.begin(), places.prefixes.begin(), places.prefixes.end());
  prefixes.insert(prefixes.end(), places.late_prefixes.begin(), places.late_prefixes.end());
  for (const auto& place : prefixes) search.ConsiderPrefix(place.path, place.where);
  return search.TakeFound();
}

std::vector<std::string> JsonStrings(std::string_view text, std::string_view key) {
  std::vector<std::string> values;
  std::string quoted(1, '"');
  quoted.append(key).push_back('"');
  for (std::size_t at = text.find(quoted); at != std::string_view::npos; at = text.find(quoted, at + 1)) {
    std::size_t value = SkipSpaces(text, at + quoted.size());
    if (value >= text.size() || text[value] != ':') continue;
    value = SkipSpaces(text, value + 1);
    if (value >= text.size() || text[value] != '"') continue;
    std::string word;
    for (std::size_t i = value + 1; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] != '\\' || i + 1 >= text.size()) {
        word += text[i];
        continue;
      }
      const char escaped = text[++i];
      if (escaped == 'u' && i + 4 < text.size()) {
        const unsigned long code = std::strtoul(std::string(text.substr(i + 1, 4)).c_str(), nullptr, 16);
        if (code < 0x80) word += static_cast<char>(code);
        i += 4;
      } else {
        word += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
      }
    }
    values.push_back(std::move(word));
  }
  return values;
}

std::vector<std::string> YamlValues(std::string_view text, std::string_view key) {
  std::vector<std::string> values;
  std::size_t line_start = 0;
  while (line_start < text.size()) {
    std::size_t line_end = text.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = text.size();
    std::string_view line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    if (line.substr(0, key.size()) != key || line.substr(key.size(), 1) != ":") continue;
    std::string_view value = line.substr(key.size() + 1);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.remove_suffix(1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (!value.empty()) values.emplace_back(value);
  }
  return values;
}

#ifndef _WIN32
namespace {

// "~/..." for a path below the home folder.
std::string Shown(const fs::path& path, const fs::path& home) {
  const std::string text = path.string(), root = home.string() + "/";
  return text.rfind(root, 0) == 0 ? "~/" + text.substr(root.size()) : text;
}

// The names of the files in `folder` ending in `suffix`.
std::vector<fs::path> FilesEndingIn(FolderReader& reader, const fs::path& folder, std::string_view suffix) {
  std::vector<fs::path> files;
  for (const FolderReader::Entry& entry : reader.List(folder))
    if (!entry.is_folder && entry.name.size() > suffix.size() && entry.name.ends_with(suffix))
      files.push_back(folder / entry.name);
  return files;
}

void AddLutris(const fs::path& home, FolderReader& reader, InstallPlaces& places) {
  for (const char* games : {".local/share/lutris/games", ".config/lutris/games", ".var/app/net.lutris.Lutris/data/lutris/games"}) {
    for (const fs::path& file : FilesEndingIn(reader, home / games, ".yml")) {
      const std::string text = ReadSmallText(file);
      const std::vector<std::string> prefix = YamlValues(text, "prefix");
      if (!prefix.empty()) places.prefixes.push_back({prefix.front(), "Lutris"});
      for (const std::string& exe : YamlValues(text, "exe")) {
        if (!EqualsIgnoringCase(fs::path(exe).filename().string(), kGameProgram)) continue;
        const fs::path program = fs::path(exe).is_absolute() || prefix.empty() ? fs::path(exe) : fs::path(prefix.front()) / exe;
        places.games.push_back({program.parent_path(), "Lutris"});
      }
    }
  }
}

void AddHeroic(const fs::path& home, FolderReader& reader, InstallPlaces& places) {
  for (const char* config : {".config/heroic", ".var/app/com.heroicgameslauncher.hgl/config/heroic"}) {
    for (const fs::path& file : FilesEndingIn(reader, home / config / "GamesConfig", ".json"))
      for (const std::string& prefix : JsonStrings(ReadSmallText(file), "winePrefix"))
        places.prefixes.push_back({prefix, "Heroic"});
    for (const char* installed : {"gog_store/installed.json", "legendaryConfig/legendary/installed.json"})
      for (const std::string& folder : JsonStrings(ReadSmallText(home / config / installed), "install_path"))
        places.games.push_back({folder, "Heroic"});
  }
  for (const char* folder : {"Games/Heroic", "Games/Heroic/Prefixes/default", "Games/Heroic/Prefixes"})
    places.parents.push_back({home / folder, "Heroic"});
}

}  // namespace

InstallPlaces KnownInstallPlaces(const fs::path& home, const std::string& wine_prefix, FolderReader& reader) {
  InstallPlaces places;
  if (!wine_prefix.empty()) places.prefixes.push_back({wine_prefix, "Wine: " + Shown(wine_prefix, home)});
  places.prefixes.push_back({home / ".wine", "Wine: ~/.wine"});
  const fs::path wineprefixes = home / ".local/share/wineprefixes";
  for (const FolderReader::Entry& entry : reader.List(wineprefixes))
    if (entry.is_folder) places.prefixes.push_back({wineprefixes / entry.name, "Wine: " + entry.name});
  AddLutris(home, reader, places);
  places.parents.push_back({home / "Games", "~/Games"});
  for (const char* bottles : {".local/share/bottles/bottles", ".var/app/com.usebottles.bottles/data/bottles/bottles"}) {
    for (const FolderReader::Entry& entry : reader.List(home / bottles))
      if (entry.is_folder) places.prefixes.push_back({home / bottles / entry.name, "Bottles: " + entry.name});
  }
  AddHeroic(home, reader, places);
  const std::vector<fs::path> libraries = SteamLibraries(
      {home / ".steam/steam", home / ".steam/root", home / ".local/share/Steam",
       home / ".var/app/com.valvesoftware.Steam/.local/share/Steam", home / ".var/app/com.valvesoftware.Steam/data/Steam"});
  for (const fs::path& library : libraries) places.parents.push_back({library / "steamapps/common", "Steam"});
  // Proton's prefixes hold games added to Steam from elsewhere; there may be
  // many, so they come last.
  for (const fs::path& library : libraries) {
    const fs::path compatdata = library / "steamapps/compatdata";
    for (const FolderReader::Entry& entry : reader.List(compatdata))
      if (entry.is_folder) places.late_prefixes.push_back({compatdata / entry.name / "pfx", "Steam: Proton " + entry.name});
  }
  return places;
}
#endif

}  // namespace velmora

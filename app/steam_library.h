#pragma once

// Steam's own files, read as Steam writes them: libraryfolders.vdf names the
// player's libraries, and each library's appmanifest_<id>.acf names the
// folder below steamapps/common that an app is installed in.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// The key/value pairs of a VDF (KeyValues) text, in order, nesting ignored:
// `"path"  "C:\\Games\\Steam"` gives {"path", "C:\Games\Steam"}.
std::vector<std::pair<std::string, std::string>> VdfPairs(std::string_view text);

// The libraries of the Steam installs at `roots` (each the folder holding
// steamapps): the roots that exist and every path their
// steamapps/libraryfolders.vdf lists, each once.
std::vector<std::filesystem::path> SteamLibraries(const std::vector<std::filesystem::path>& roots);

// The app id of the game in `folder`, when it lies below a library's
// steamapps/common and that library's appmanifest_<id>.acf names its folder;
// of several apps installed in one folder, the game's own, not a server,
// tool or redistributable beside it.
std::optional<std::string> SteamAppIdOf(const std::filesystem::path& folder);
// "steamapps" in any letter case.
bool IsSteamAppsFolder(const std::filesystem::path& name);

// Paths in UTF-8, as configuration files and the registry give them; on
// Windows "/" becomes "\\" ("c:/program files (x86)/steam").
inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
inline std::filesystem::path PathOfUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end())).make_preferred();
}

// The first 1 MiB of a small text file; empty when it cannot be read.
std::string ReadSmallText(const std::filesystem::path& file);

}  // namespace velmora

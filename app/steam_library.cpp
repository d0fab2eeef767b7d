#include "app/steam_library.h"

#include <algorithm>
#include <cstdio>

#include "platform/ascii.h"

namespace velmora {
namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::string>> VdfPairs(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::optional<std::string> key;  // a string not yet followed by its value or block
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '/' && at + 1 < text.size() && text[at + 1] == '/') {
      at = std::min(text.find('\n', at), text.size());
    } else if (c == '{' || c == '}') {
      key.reset();
    } else if (c == '"') {
      std::string word;
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) {
          const char escaped = text[++at];
          word += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
        } else {
          word += text[at];
        }
      }
      if (key) {
        pairs.emplace_back(std::move(*key), std::move(word));
        key.reset();
      } else {
        key = std::move(word);
      }
    }
  }
  return pairs;
}

std::string ReadSmallText(const fs::path& file) {
  // stdio rather than a stream: velmora.exe stays free of iostreams' locales.
#ifdef _WIN32
  std::FILE* in = _wfopen(file.c_str(), L"rb");
#else
  std::FILE* in = std::fopen(file.c_str(), "rb");
#endif
  if (!in) return "";
  std::string text(1 << 20, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), in));
  std::fclose(in);
  return text;
}

namespace {

bool Contains(const std::vector<fs::path>& paths, const fs::path& path) {
  std::error_code error;
  return std::any_of(paths.begin(), paths.end(), [&](const fs::path& known) { return fs::equivalent(known, path, error); });
}

}  // namespace

std::vector<fs::path> SteamLibraries(const std::vector<fs::path>& roots) {
  std::vector<fs::path> libraries;
  std::error_code error;
  const auto add = [&](const fs::path& library) {
    if (fs::is_directory(library / "steamapps", error) && !Contains(libraries, library)) libraries.push_back(library);
  };
  for (const fs::path& root : roots) {
    add(root);
    for (const auto& [key, value] : VdfPairs(ReadSmallText(root / "steamapps" / "libraryfolders.vdf")))
      if (EqualsIgnoringCase(key, "path") && !value.empty()) add(PathOfUtf8(value));
  }
  return libraries;
}

std::optional<std::string> SteamAppIdOf(const fs::path& folder) {
  // The library is the folder above "steamapps/common/<install folder>".
  std::vector<fs::path> parts(folder.begin(), folder.end());
  for (std::size_t i = parts.size(); i-- > 2;) {
    if (parts[i - 1] != "common" || parts[i - 2] != "steamapps") continue;
    fs::path steamapps;
    for (std::size_t j = 0; j < i - 1; ++j) steamapps /= parts[j];
    const std::string install_folder = Utf8Of(parts[i]);
    std::error_code error;
    for (fs::directory_iterator entry(steamapps, error), end; !error && entry != end; entry.increment(error)) {
      const std::string name = Utf8Of(entry->path().filename());
      if (name.rfind("appmanifest_", 0) != 0 || entry->path().extension() != ".acf") continue;
      std::string id, installdir;
      for (const auto& [key, value] : VdfPairs(ReadSmallText(entry->path()))) {
        if (EqualsIgnoringCase(key, "appid")) id = value;
        if (EqualsIgnoringCase(key, "installdir")) installdir = value;
      }
      const bool digits = !id.empty() && std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (digits && EqualsIgnoringCase(installdir, install_folder)) return id;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace velmora

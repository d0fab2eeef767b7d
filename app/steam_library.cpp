#include "app/steam_library.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/unique_fd.h"
#endif

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
  std::string text(1 << 20, '\0');
#ifdef _WIN32
  // stdio rather than a stream: velmora.exe stays free of iostreams' locales.
  std::FILE* in = _wfopen(file.c_str(), L"rb");
  if (!in) return "";
  text.resize(std::fread(text.data(), 1, text.size(), in));
  std::fclose(in);
#else
  // Only a regular file, opened without blocking: a pipe or a device named
  // like a launcher's file holds nothing up.
  const UniqueFd in(open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (!in || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t part = read(in.get(), text.data() + got, text.size() - got);
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) break;
    got += std::size_t(part);
  }
  text.resize(got);
#endif
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

namespace {

// What an app beside the game in the same install folder calls itself: a
// server, a tool or a redistributable that Steam installs there too.
bool NamesAnExtra(std::string_view app_name) {
  const std::string name = ToUpperAscii(app_name);
  for (const char* word : {"SERVER", "TOOL", "SDK", "REDISTRIBUTABLE", "EDITOR", "SOUNDTRACK", "DEMO", "BENCHMARK"})
    if (name.find(word) != std::string::npos) return true;
  return false;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsSteamAppsFolder(const fs::path& name) { return EqualsIgnoringCase(Utf8Of(name), "steamapps"); }

std::optional<std::string> SteamAppIdOf(const fs::path& folder) {
  // The library is the folder above "steamapps/common/<install folder>";
  // Steam on a disk that keeps letter case may spell it "SteamApps".
  std::vector<fs::path> parts(folder.begin(), folder.end());
  for (std::size_t i = parts.size(); i-- > 2;) {
    if (!EqualsIgnoringCase(Utf8Of(parts[i - 1]), "common") || !IsSteamAppsFolder(parts[i - 2])) continue;
    fs::path steamapps;
    for (std::size_t j = 0; j < i - 1; ++j) steamapps /= parts[j];
    const std::string install_folder = Utf8Of(parts[i]);
    // Of the apps installed in that folder, the game itself: not an extra,
    // then one Steam has made a prefix for, then the oldest.
    struct App {
      bool extra, no_prefix;
      unsigned long long id;
      std::string text;
      bool operator<(const App& other) const {
        return std::tie(extra, no_prefix, id) < std::tie(other.extra, other.no_prefix, other.id);
      }
    };
    std::optional<App> best;
    std::error_code error;
    for (fs::directory_iterator entry(steamapps, error), end; !error && entry != end; entry.increment(error)) {
      const std::string name = Utf8Of(entry->path().filename());
      if (name.rfind("appmanifest_", 0) != 0 || entry->path().extension() != ".acf") continue;
      std::string id, installdir, app_name;
      for (const auto& [key, value] : VdfPairs(ReadSmallText(entry->path()))) {
        if (EqualsIgnoringCase(key, "appid") && id.empty()) id = value;
        if (EqualsIgnoringCase(key, "installdir") && installdir.empty()) installdir = value;
        if (EqualsIgnoringCase(key, "name") && app_name.empty()) app_name = value;
      }
      if (!AllDigits(id) || id.size() > 18 || !EqualsIgnoringCase(installdir, install_folder)) continue;
      std::error_code missing;
      const App app{NamesAnExtra(app_name), !fs::is_directory(steamapps / "compatdata" / id / "pfx", missing),
                    std::stoull(id), id};
      if (!best || app < *best) best = app;
    }
    if (best) return best->text;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace velmora

#include "platform/game_folder.h"

#include <filesystem>
#include <initializer_list>

#include "platform/name_case.h"

#ifdef _WIN32
#include "platform/win32/text.h"
#else
#include <dirent.h>

#include <memory>
#endif

namespace velmora {

GameFolder::GameFolder(std::string root) : root_(std::move(root)) {}

GameFolder GameFolder::Current() {
#ifdef _WIN32
  // UTF-8 as everywhere; asked of Windows itself, since the library's
  // conversion throws on a name that is not valid UTF-16.
  std::wstring path(GetCurrentDirectoryW(0, nullptr), L'\0');
  path.resize(GetCurrentDirectoryW(DWORD(path.size()), path.data()));
  return GameFolder(Narrow(path));
#else
  // A current folder that was deleted has no path: it is still reached
  // through the process's own link to it, and holds nothing.
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return GameFolder(error ? "/proc/self/cwd" : current.string());
#endif
}

std::string GameFolder::Join(std::string_view relative) const {
  std::string path = root_;
  path += kSeparator;
  path += relative;
  return path;
}

std::optional<GamePath> GameFolder::Parse(std::string_view path) const {
  if (path.substr(0, root_.size()) != root_) return std::nullopt;
  std::string_view rest = path.substr(root_.size());
  if (!rest.empty() && rest.front() != kSeparator) return std::nullopt;
  return SplitRelative(rest);
}

bool IsSafeName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find(kSeparator) == std::string_view::npos &&
         name.find('/') == std::string_view::npos;
}

std::optional<GamePath> SplitRelative(std::string_view relative) {
  GamePath names;
  while (!relative.empty()) {
    const std::size_t end = relative.find(kSeparator);
    const std::string_view name = relative.substr(0, end);
    if (!name.empty()) {
      if (!IsSafeName(name)) return std::nullopt;
      names.emplace_back(name);
    }
    if (end == std::string_view::npos) break;
    relative.remove_prefix(end + 1);
  }
  return names;
}

namespace {

// True when `folder` holds one of `names`, in any letter case.
bool HoldsAnyOf(const std::string& folder, std::initializer_list<const char*> names) {
#ifdef _WIN32
  // Windows finds a name in any letter case itself.
  for (const char* name : names)
    if (GetFileAttributesW(Widen(folder + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return false;
#else
  std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
  while (const dirent* entry = listing ? readdir(listing.get()) : nullptr)
    for (const char* name : names)
      if (NamesEqualIgnoringCase(entry->d_name, name)) return true;
  return false;
#endif
}

}  // namespace

bool HoldsGame(const std::string& folder) { return HoldsAnyOf(folder, {"Dromvik.exe", "Config.ini", "season02"}); }

bool HoldsGameProgram(const std::string& folder) { return HoldsAnyOf(folder, {"Dromvik.exe"}); }

}  // namespace velmora

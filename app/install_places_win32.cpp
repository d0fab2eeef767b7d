// Where Windows keeps the record of an installed game: the registry's App
// Paths and uninstall entries, GOG's and Steam's keys, and the program
// folders whose top levels installers fill.
#include <windows.h>

#include <cstdlib>
#include <optional>

#include "app/install_search.h"
#include "app/steam_library.h"
#include "platform/ascii.h"
#include "platform/win32/text.h"

namespace velmora {
namespace fs = std::filesystem;
namespace {

constexpr const wchar_t* kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kAppPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Dromvik.exe";

struct Hive {
  HKEY root;
  REGSAM view;  // a 32-bit program sees the 64-bit machine keys only when it asks
};
const Hive kHives[] = {{HKEY_CURRENT_USER, 0},
                           {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
                           {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}};

// A string value; one of type REG_EXPAND_SZ comes expanded.
std::optional<std::wstring> ReadString(const Hive& hive, const std::wstring& key, const wchar_t* value) {
  HKEY opened;
  if (RegOpenKeyExW(hive.root, key.c_str(), 0, KEY_QUERY_VALUE | hive.view, &opened) != ERROR_SUCCESS)
    return std::nullopt;
  std::wstring text(1024, L'\0');
  DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  const LSTATUS status =
      RegGetValueW(opened, nullptr, value, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || bytes < sizeof(wchar_t)) return std::nullopt;
  text.resize(bytes / sizeof(wchar_t) - 1);
  return text.empty() ? std::nullopt : std::optional(text);
}

std::vector<std::wstring> SubKeys(const Hive& hive, const std::wstring& key) {
  std::vector<std::wstring> names;
  HKEY opened;
  if (RegOpenKeyExW(hive.root, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | hive.view, &opened) != ERROR_SUCCESS)
    return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(opened);
  return names;
}

// The program a registry value names ("\"C:\\Games\\Dromvik\\Dromvik.exe\",0"):
// quotes and an icon's index taken off.
fs::path ProgramNamed(std::wstring text) {
  if (!text.empty() && text.front() == L'"') {
    const std::size_t close = text.find(L'"', 1);
    text = text.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
  } else if (const std::size_t comma = text.rfind(L','); comma != std::wstring::npos) {
    text.resize(comma);
  }
  return fs::path(text);
}

bool IsGameProgram(const fs::path& program) {
  return EqualsIgnoringCase(Narrow(program.filename().wstring()), "Dromvik.exe");
}

std::wstring Environment(const wchar_t* name, const wchar_t* otherwise) {
  const wchar_t* value = _wgetenv(name);
  return value && *value ? value : otherwise;
}

}  // namespace

InstallPlaces KnownInstallPlaces(const fs::path&, const std::string&, FolderReader&) {
  InstallPlaces places;
  for (const Hive& hive : kHives) {
    if (auto program = ReadString(hive, kAppPath, nullptr); program && IsGameProgram(ProgramNamed(*program)))
      places.games.push_back({ProgramNamed(*program).parent_path(), "installed"});
    if (auto folder = ReadString(hive, kAppPath, L"Path")) places.games.push_back({*folder, "installed"});
    for (const std::wstring& entry : SubKeys(hive, kUninstall)) {
      const std::wstring key = std::wstring(kUninstall) + L"\\" + entry;
      if (auto folder = ReadString(hive, key, L"InstallLocation")) places.games.push_back({ProgramNamed(*folder), "installed"});
      if (auto icon = ReadString(hive, key, L"DisplayIcon"); icon && IsGameProgram(ProgramNamed(*icon)))
        places.games.push_back({ProgramNamed(*icon).parent_path(), "installed"});
    }
  }
  const std::wstring gog = L"Software\\GOG.com\\Games";
  for (const std::wstring& game : SubKeys(kHives[2], gog))
    if (auto folder = ReadString(kHives[2], gog + L"\\" + game, L"path")) places.games.push_back({*folder, "GOG"});

  std::vector<fs::path> steam_roots;
  if (auto path = ReadString(kHives[0], L"Software\\Valve\\Steam", L"SteamPath"))
    steam_roots.push_back(fs::path(*path).make_preferred());
  if (auto path = ReadString(kHives[2], L"Software\\Valve\\Steam", L"InstallPath")) steam_roots.push_back(*path);
  for (const fs::path& library : SteamLibraries(steam_roots))
    places.parents.push_back({library / "steamapps" / "common", "Steam"});

  const std::wstring drive = Environment(L"SystemDrive", L"C:");
  const std::wstring x86 = Environment(L"ProgramFiles(x86)", (drive + L"\\Program Files (x86)").c_str());
  places.parents.push_back({x86, "Program Files (x86)"});
  places.parents.push_back({Environment(L"ProgramW6432", (drive + L"\\Program Files").c_str()), "Program Files"});
  places.parents.push_back({drive + L"\\Games", Narrow(drive) + "\\Games"});
  places.parents.push_back({drive + L"\\GOG Games", "GOG"});
  places.parents.push_back({fs::path(x86) / L"GOG Galaxy" / L"Games", "GOG"});
  return places;
}

}  // namespace velmora

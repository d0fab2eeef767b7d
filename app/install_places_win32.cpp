// Where Windows keeps the record of an installed game: the registry's App
// Paths and uninstall entries, GOG's and Steam's keys, and the program
// folders whose top levels installers fill.
#include <windows.h>

#include <cstdlib>
#include <optional>

#include "app/install_search.h"
#include "app/launcher.h"
#include "app/steam_library.h"
#include "platform/ascii.h"
#include "platform/win32/registry.h"
#include "platform/win32/text.h"

namespace velmora {
namespace fs = std::filesystem;
namespace {

constexpr const wchar_t* kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kAppPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Dromvik.exe";

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
  return EqualsIgnoringCase(Narrow(program.filename().wstring()), kGameProgram);
}

std::wstring Environment(const wchar_t* name, const wchar_t* otherwise) {
  const wchar_t* value = _wgetenv(name);
  return value && *value ? value : otherwise;
}

}  // namespace

InstallPlaces KnownInstallPlaces(const fs::path&, const std::string&, FolderReader&) {
  InstallPlaces places;
  for (const Hive& hive : kUserAndMachineHives) {
    if (auto program = RegistryString(hive, kAppPath, nullptr); program && IsGameProgram(ProgramNamed(*program)))
      places.games.push_back({ProgramNamed(*program).parent_path(), "installed"});
    if (auto folder = RegistryString(hive, kAppPath, L"Path")) places.games.push_back({*folder, "installed"});
    for (const std::wstring& entry : RegistrySubKeys(hive, kUninstall)) {
      const std::wstring key = std::wstring(kUninstall) + L"\\" + entry;
      if (auto folder = RegistryString(hive, key, L"InstallLocation")) places.games.push_back({ProgramNamed(*folder), "installed"});
      if (auto icon = RegistryString(hive, key, L"DisplayIcon"); icon && IsGameProgram(ProgramNamed(*icon)))
        places.games.push_back({ProgramNamed(*icon).parent_path(), "installed"});
    }
  }
  const std::wstring gog = L"Software\\GOG.com\\Games";
  for (const std::wstring& game : RegistrySubKeys(kUserAndMachineHives[2], gog))
    if (auto folder = RegistryString(kUserAndMachineHives[2], gog + L"\\" + game, L"path")) places.games.push_back({*folder, "GOG"});

  std::vector<fs::path> steam_roots;
  if (auto path = RegistryString(kUserAndMachineHives[0], L"Software\\Valve\\Steam", L"SteamPath"))
    steam_roots.push_back(fs::path(*path).make_preferred());
  if (auto path = RegistryString(kUserAndMachineHives[2], L"Software\\Valve\\Steam", L"InstallPath")) steam_roots.push_back(*path);
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

// Where Windows keeps the record of an installed game: the registry's App
// Paths and uninstall entries, GOG's and Steam's keys, and the program
// folders whose top levels installers fill.
#include <windows.h>

#include <cstdlib>
#include <optional>

#include "finder/install_search.h"
#include "finder/steam_library.h"
#include "platform/ascii.h"
#include "platform/win32/registry.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

constexpr const wchar_t* kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kAppPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Dromvik.exe";

bool IsIconIndex(std::wstring_view text) {
  while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == L'-') text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

// The program a registry value names ("\"C:\\Games\\Dromvik\\Dromvik.exe\",0",
// "C:\\Games\\Dromvik, Gold\\Dromvik.exe,0"): quotes and an icon's index
// taken off, a comma in a folder's name kept.
std::string ProgramNamed(std::wstring text) {
  if (!text.empty() && text.front() == L'"') {
    const std::size_t close = text.find(L'"', 1);
    text = text.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
  } else if (const std::size_t comma = text.rfind(L','); comma != std::wstring::npos && IsIconIndex(text.substr(comma + 1))) {
    text.resize(comma);
  }
  return Narrow(text);
}

bool IsGameProgram(const std::string& program) { return EqualsIgnoringCase(NameOf(program), "Dromvik.exe"); }

std::string Environment(const wchar_t* name, const std::wstring& otherwise) {
  const wchar_t* value = _wgetenv(name);
  return Narrow(value && *value ? value : otherwise);
}

std::string NameOrEmpty(const std::optional<std::wstring>& name) { return name ? Narrow(*name) : ""; }

}  // namespace

InstallPlaces KnownInstallPlaces(const std::string&, const std::string&, FinderDisk& disk) {
  using Kind = InstallPlace::Kind;
  InstallPlaces places;
  for (const Hive& hive : kUserAndMachineHives) {
    if (auto program = RegistryString(hive, kAppPath, nullptr); program && IsGameProgram(ProgramNamed(*program)))
      places.push_back({Kind::kGame, ParentOf(ProgramNamed(*program)), "installed"});
    if (auto folder = RegistryString(hive, kAppPath, L"Path")) places.push_back({Kind::kGame, Narrow(*folder), "installed"});
    for (const std::wstring& entry : RegistrySubKeys(hive, kUninstall)) {
      const std::wstring key = std::wstring(kUninstall) + L"\\" + entry;
      // Named as the installer names it.
      const std::string name = NameOrEmpty(RegistryString(hive, key, L"DisplayName"));
      if (auto folder = RegistryString(hive, key, L"InstallLocation"))
        places.push_back({Kind::kGame, ProgramNamed(*folder), "installed", name});
      if (auto icon = RegistryString(hive, key, L"DisplayIcon"); icon && IsGameProgram(ProgramNamed(*icon)))
        places.push_back({Kind::kGame, ParentOf(ProgramNamed(*icon)), "installed", name});
    }
  }
  const std::wstring gog = L"Software\\GOG.com\\Games";
  for (const std::wstring& game : RegistrySubKeys(kUserAndMachineHives[2], gog)) {
    const std::wstring key = gog + L"\\" + game;
    if (auto folder = RegistryString(kUserAndMachineHives[2], key, L"path"))
      places.push_back({Kind::kGame, Narrow(*folder), "GOG", NameOrEmpty(RegistryString(kUserAndMachineHives[2], key, L"gameName"))});
  }

  std::vector<std::string> steam_roots;
  if (auto path = RegistryString(kUserAndMachineHives[0], L"Software\\Valve\\Steam", L"SteamPath")) {
    std::string root = Narrow(*path);
    for (char& c : root) c = c == '/' ? '\\' : c;
    steam_roots.push_back(root);
  }
  if (auto path = RegistryString(kUserAndMachineHives[2], L"Software\\Valve\\Steam", L"InstallPath"))
    steam_roots.push_back(Narrow(*path));
  for (const std::string& steamapps : SteamLibraries(steam_roots, disk))
    places.push_back({Kind::kParent, JoinPath(steamapps, "common"), "Steam"});

  const std::string system_drive = Environment(L"SystemDrive", L"C:");
  const std::string x86 = Environment(L"ProgramFiles(x86)", Widen(system_drive + "\\Program Files (x86)"));
  places.push_back({Kind::kParent, x86, "Program Files (x86)"});
  places.push_back({Kind::kParent, Environment(L"ProgramW6432", Widen(system_drive + "\\Program Files")), "Program Files"});
  places.push_back({Kind::kParent, system_drive + "\\Games", system_drive + "\\Games"});
  places.push_back({Kind::kParent, system_drive + "\\GOG Games", "GOG"});
  places.push_back({Kind::kParent, JoinPath(JoinPath(x86, "GOG Galaxy"), "Games"), "GOG"});
  return places;
}

}  // namespace velmora

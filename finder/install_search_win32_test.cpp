// The installs Windows records, found from registry entries made in the
// test's own prefix, as installers, GOG and Steam write them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "finder/install_search.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

void SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value, REGSAM view = 0) {
  HKEY opened;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &opened, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(opened);
}

class InstallSearchTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Dromvik.exe");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dromvik test");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other test");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Comma test");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Valve\\Steam");
    HKEY gog;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\GOG.com", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &gog) == 0) {
      RegDeleteTreeW(gog, nullptr);
      RegCloseKey(gog);
    }
  }

  std::wstring Game(const char* folder) {
    temp_.Write(std::string(folder) + "/Dromvik.exe", "MZ");
    return temp_.At(folder).make_preferred().wstring();
  }

  testing::TempGame temp_;
};

TEST_F(InstallSearchTest, FindsTheGameThatAppPathsUninstallEntriesGogAndSteamsLibrariesRecord) {
  const std::wstring uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  SetString(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Dromvik.exe", nullptr,
            Game("apppaths") + L"\\Dromvik.exe");
  SetString(HKEY_CURRENT_USER, uninstall + L"Dromvik test", L"InstallLocation", Game("installed") + L"\\");
  SetString(HKEY_CURRENT_USER, uninstall + L"Other test", L"DisplayIcon", L"\"" + Game("icon") + L"\\DROMVIK.EXE\",0");
  // Unquoted, without an icon's index, a comma in the folder's name: nothing is cut off.
  SetString(HKEY_CURRENT_USER, uninstall + L"Comma test", L"DisplayIcon", Game("Dromvik, Gold") + L"\\Dromvik.exe");
  SetString(HKEY_CURRENT_USER, uninstall + L"Comma test", L"DisplayName", L"Dromvik Gold Edition");
  SetString(HKEY_LOCAL_MACHINE, L"Software\\GOG.com\\Games\\1207658924", L"path", Game("gog"), KEY_WOW64_32KEY);
  // Steam writes its own path with "/" and a second library in the VDF's escapes.
  const std::wstring steam = temp_.At("steam").make_preferred().wstring();
  std::wstring steam_forward = steam;
  std::replace(steam_forward.begin(), steam_forward.end(), L'\\', L'/');
  SetString(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", L"SteamPath", steam_forward);
  std::string library2;
  for (const char c : temp_.At("library2").make_preferred().string()) {
    if (c == '\\') library2 += c;
    library2 += c;
  }
  temp_.Write("steam/steamapps/libraryfolders.vdf",
              "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + library2 + "\"\n\t}\n}\n");
  Game("steam/steamapps/common/Dromvik");
  Game("library2/steamapps/common/Dromvik");

  FinderDisk disk;
  const std::vector<FoundInstall> found = FindInstalls(KnownInstallPlaces({}, {}, disk), disk);
  std::vector<std::wstring> folders;
  for (const FoundInstall& install : found)
    folders.push_back(fs::relative(install.folder, temp_.root()).make_preferred().wstring());
  for (const wchar_t* expected : {L"apppaths", L"installed", L"icon", L"Dromvik, Gold", L"gog", L"steam\\steamapps\\common\\Dromvik",
                                  L"library2\\steamapps\\common\\Dromvik"})
    EXPECT_NE(std::find(folders.begin(), folders.end(), expected), folders.end()) << "not found: " << fs::path(expected);
  std::string labels;
  for (const FoundInstall& install : found) labels += install.label + "\n";
  SCOPED_TRACE(labels);
  const auto named = [&](const std::string& label) {
    return std::any_of(found.begin(), found.end(), [&](const FoundInstall& f) { return f.label == label; });
  };
  EXPECT_TRUE(named("gog (GOG)"));
  EXPECT_TRUE(named("Dromvik Gold Edition (installed)")) << "named as the installer names it";
  EXPECT_TRUE(named("installed (installed)"));
  EXPECT_TRUE(named("Dromvik (Steam)"));
  EXPECT_TRUE(named("Dromvik (Steam) in " + (temp_.root() / "library2" / "steamapps" / "common").make_preferred().string()) ||
              named("Dromvik (Steam) in " + (temp_.root() / "steam" / "steamapps" / "common").make_preferred().string()));
}

}  // namespace
}  // namespace velmora

#include "app/install_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/steam_library.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// A home folder with the game installed wherever players keep it, each
// place's files written as its program writes them.
class InstallSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Wine's own folders beside the game, as a prefix has them.
    Game(".wine/drive_c/Program Files (x86)/Dromvik");
    Folder(".wine/drive_c/Program Files (x86)/Common Files/System");
    Folder(".wine/drive_c/Program Files (x86)/Internet Explorer");
    Folder(".wine/drive_c/Program Files/Windows NT/Accessories");
    // Two levels down, the program's name in capitals.
    Game("prefixes/custom/drive_c/Games/Maker/Dromvik", "DROMVIK.EXE");
    Game(".local/share/wineprefixes/racing/drive_c/GOG Games/Dromvik", "dromvik.exe");
    // Lutris: a game its configuration names, and one in a prefix of ~/Games.
    Write(".config/lutris/games/dromvik-1699999999.yml",
          "game:\n  exe: " + Home("Games/dromvik/drive_c/Program Files/Zentoworks/Dromvik.exe") +
              "\n  prefix: '" + Home("Games/dromvik") + "'\ngame_slug: dromvik\nname: Dromvik\nrunner: wine\n"
              "system: {}\nwine:\n  version: lutris-8.0-x86_64\n");
    Game("Games/dromvik/drive_c/Program Files/Zentoworks");
    Game("Games/dromvik-2023/drive_c/Program Files (x86)/Dromvik");
    // Bottles, installed and as a Flatpak.
    Write(".local/share/bottles/bottles/Games/bottle.yml", "Name: Games\nRunner: soda-7.0-9\n");
    Game(".local/share/bottles/bottles/Games/drive_c/Program Files (x86)/Dromvik");
    Game(".var/app/com.usebottles.bottles/data/bottles/bottles/Racing/drive_c/Program Files/Dromvik");
    // Heroic: a GOG game of its own folder, and a prefix its configuration names.
    Game("Games/Heroic/Dromvik");
    Write(".config/heroic/gog_store/installed.json",
          "{\"installed\":[{\"platform\":\"windows\",\"install_path\":\"" + Home("Games/Heroic/Dromvik") +
              "\",\"appName\":\"1207658924\",\"is_dlc\":false}]}");
    Write(".config/heroic/GamesConfig/1207658930.json",
          "{\n  \"1207658930\": {\n    \"winePrefix\": \"" + Home("Games/Heroic/Prefixes/default/Tracks") +
              "\",\n    \"wineVersion\": {\"bin\": \"/usr/bin/wine\"}\n  },\n  \"version\": \"v0\"\n}\n");
    Game("Games/Heroic/Prefixes/default/Tracks/drive_c/Program Files (x86)/Dromvik Tracks");
    // Steam: a second library that libraryfolders.vdf lists, reached through
    // ~/.steam/steam as Steam links it, and a game added from elsewhere in a
    // prefix of Proton's.
    Write(".local/share/Steam/steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + Home(".local/share/Steam") +
              "\"\n\t\t\"label\"\t\t\"\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"0\"\n\t\t}\n\t}\n\t\"1\"\n\t{\n"
              "\t\t\"path\"\t\t\"" + Home("library2") + "\"\n\t\t\"label\"\t\t\"\"\n\t}\n}\n");
    fs::create_directories(Home(".steam"));
    fs::create_directory_symlink(Home(".local/share/Steam"), Home(".steam/steam"));
    Folder(".local/share/Steam/steamapps/common/Steamworks Shared");
    Game("library2/steamapps/common/Dromvik");
    Game(".local/share/Steam/steamapps/compatdata/2788123456/pfx/drive_c/Program Files (x86)/Dromvik");
    Folder(".local/share/Steam/steamapps/compatdata/228980/pfx/drive_c/windows");
  }

  std::string Home(std::string_view relative) const { return home_.At(relative).string(); }
  void Write(std::string_view relative, std::string_view content) const { home_.Write(relative, content); }
  void Folder(std::string_view relative) const { home_.MakeFolder(relative); }
  void Game(std::string_view folder, std::string_view program = "Dromvik.exe") const {
    Write(std::string(folder) + "/" + std::string(program), "MZ");
    Write(std::string(folder) + "/Config.ini", "[Options]\n");
  }

  std::vector<FoundInstall> Find(FolderReader& reader) const {
    return FindInstalls(KnownInstallPlaces(home_.root(), Home("prefixes/custom"), reader), reader);
  }

  testing::TempGame home_;
};

TEST_F(InstallSearchTest, FindsTheGameInEveryPlaceEachOnceNamedSoThatInstallsCanBeToldApart) {
  FolderReader reader;
  const std::vector<FoundInstall> found = Find(reader);
  std::vector<std::string> folders, labels;
  for (const FoundInstall& install : found) {
    folders.push_back(fs::relative(install.folder, home_.root()).string());
    labels.push_back(install.label);
  }
  const std::vector<std::string> expected = {
      "Games/dromvik/drive_c/Program Files/Zentoworks",
      "Games/Heroic/Dromvik",
      "Games/dromvik-2023/drive_c/Program Files (x86)/Dromvik",
      "library2/steamapps/common/Dromvik",
      "prefixes/custom/drive_c/Games/Maker/Dromvik",
      ".wine/drive_c/Program Files (x86)/Dromvik",
      ".local/share/wineprefixes/racing/drive_c/GOG Games/Dromvik",
      ".local/share/bottles/bottles/Games/drive_c/Program Files (x86)/Dromvik",
      ".var/app/com.usebottles.bottles/data/bottles/bottles/Racing/drive_c/Program Files/Dromvik",
      "Games/Heroic/Prefixes/default/Tracks/drive_c/Program Files (x86)/Dromvik Tracks",
      ".local/share/Steam/steamapps/compatdata/2788123456/pfx/drive_c/Program Files (x86)/Dromvik",
  };
  std::vector<std::string> sorted_found = folders, sorted_expected = expected;
  std::sort(sorted_found.begin(), sorted_found.end());
  std::sort(sorted_expected.begin(), sorted_expected.end());
  EXPECT_EQ(sorted_found, sorted_expected);
  std::vector<std::string> unique_labels = labels;
  std::sort(unique_labels.begin(), unique_labels.end());
  EXPECT_EQ(std::unique(unique_labels.begin(), unique_labels.end()), unique_labels.end()) << ::testing::PrintToString(labels);
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Dromvik (Bottles: Games)"), labels.end());
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Dromvik (Steam)"), labels.end());
}

TEST_F(InstallSearchTest, OpensOnlyTheKnownPlacesHoweverManyUnrelatedFilesTheHomeHolds) {
  FolderReader before;
  const std::size_t found = Find(before).size();
  // 10,000 files in 100 folders, where a walk of the home would go.
  for (int folder = 0; folder < 100; ++folder) {
    const fs::path at = home_.At("Documents/d" + std::to_string(folder));
    fs::create_directories(at);
    for (int file = 0; file < 100; ++file) std::ofstream(at / ("f" + std::to_string(file)));
  }
  FolderReader after;
  EXPECT_EQ(Find(after).size(), found);
  EXPECT_EQ(after.folders_opened(), before.folders_opened());
  EXPECT_LE(after.folders_opened(), 100);
  // Its share spent, it opens nothing more.
  FolderReader capped(10);
  Find(capped);
  EXPECT_EQ(capped.folders_opened(), 10);
}

TEST_F(InstallSearchTest, SteamsRecordsNameTheGamesLibraryAndAppId) {
  Write("library2/steamapps/appmanifest_1234567.acf",
        "\"AppState\"\n{\n\t\"appid\"\t\t\"1234567\"\n\t\"name\"\t\t\"Dromvik\"\n\t\"installdir\"\t\t\"Dromvik\"\n}\n");
  Write("library2/steamapps/appmanifest_7654321.acf", "\"AppState\"\n{\n\t\"appid\"\t\t\"7654321\"\n\t\"installdir\"\t\t\"Other\"\n}\n");
  EXPECT_EQ(SteamAppIdOf(Home("library2/steamapps/common/Dromvik")), "1234567");
  EXPECT_EQ(SteamAppIdOf(Home("library2/steamapps/common/Dromvik/sub")), "1234567");
  EXPECT_EQ(SteamAppIdOf(Home("library2/steamapps/common/Unlisted")), std::nullopt);
  EXPECT_EQ(SteamAppIdOf(Home(".wine/drive_c/Program Files (x86)/Dromvik")), std::nullopt);
  // Windows' paths in the VDF's escapes; comments skipped.
  const auto pairs = VdfPairs("// libraries\n\"path\" \"C:\\\\Program Files (x86)\\\\Steam\" \"a\\\"b\" \"c\"");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].second, "C:\\Program Files (x86)\\Steam");
  EXPECT_EQ(pairs[1].first, "a\"b");
}

}  // namespace
}  // namespace velmora

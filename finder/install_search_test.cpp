#include "finder/install_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include "finder/steam_library.h"
#include "finder/vdf.h"
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

  std::vector<FoundInstall> Find(FinderDisk& disk) const {
    return FindInstalls(KnownInstallPlaces(home_.root().string(), Home("prefixes/custom"), disk), disk);
  }

  testing::TempGame home_;
};

TEST_F(InstallSearchTest, FindsTheGameInEveryPlaceEachOnceNamedSoThatInstallsCanBeToldApart) {
  FinderDisk disk;
  const std::vector<FoundInstall> found = Find(disk);
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
  FinderDisk before;
  const std::size_t found = Find(before).size();
  // 10,000 files in 100 folders, where a walk of the home would go.
  for (int folder = 0; folder < 100; ++folder) {
    const fs::path at = home_.At("Documents/d" + std::to_string(folder));
    fs::create_directories(at);
    for (int file = 0; file < 100; ++file) std::ofstream(at / ("f" + std::to_string(file)));
  }
  FinderDisk after;
  EXPECT_EQ(Find(after).size(), found);
  EXPECT_EQ(after.folders_opened(), before.folders_opened());
  EXPECT_LE(after.folders_opened(), 100);
  // Its share spent, it opens nothing more.
  FinderDisk capped({.folders = 10});
  Find(capped);
  EXPECT_EQ(capped.folders_opened(), 10);
}

// Every record as its program really writes it, and worse: Lutris' PyYAML
// escapes and folds, Heroic's json.dump escapes (a surrogate pair, a NUL),
// Steam's libraries before 2021, pipes named like records, a huge file and
// a binary one. The right games are found, each once, by their managers'
// names; no path made up of an escape is offered.
TEST(InstallSearchRecordsTest, ReadsEachRecordAsItsProgramWritesItAndTrustsNoneTooFar) {
  testing::TempGame home;
  const auto game = [&](const std::string& folder) { home.Write(folder + "/Dromvik.exe", "MZ"); };
  const std::string root = home.root().string();
  game("Games/lutris-\xC3\xA9/drive_c/Program Files/Zentoworks Racing Simulations Gold Edition");
  home.Write(".local/share/lutris/games/dromvik-edition-1700000000.yml",
             "game:\n  exe: \"" + root + "/Games/lutris-\\xE9/drive_c/Program Files/Zentoworks Racing Simulations\\\n"
             "    \\ Gold Edition/Dromvik.exe\"\n  prefix: \"" + root + "/Games/lutris-\\xE9\"\n"
             "game_slug: dromvik-edition\nname: \"Dromvik \\xC9dition\"\nrunner: wine\nwine:\n  version: lutris-8.0-x86_64\n");
  game("Games/Heroic/Dromvik \xC3\xA9\xF0\x9F\x8F\x8E");
  home.Write(".config/heroic/legendaryConfig/legendary/installed.json",
             "{\"Dromvik\": {\"app_name\": \"Dromvik\", \"install_path\": \"" + root +
                 "/Games/Heroic/Dromvik \\u00e9\\ud83c\\udfce\", \"title\": \"Dromvik Legends \\u00c9\"}}");
  game("other/NUL");
  home.Write(".config/heroic/gog_store/installed.json",
             "{\"installed\": [{\"appName\": \"1\", \"install_path\": \"" + root + "/other/NUL\\u0000X\"}]}");
  // The library before 2021, and an appmanifest whose nested block names another app.
  game("oldlib/steamapps/common/Dromvik");
  home.Write(".local/share/Steam/steamapps/libraryfolders.vdf",
             "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1600000000\"\n\t\"1\"\t\t\"" + root + "/oldlib\"\n}\n");
  // Pipes named like records, a huge file and a binary one.
  for (const char* pipe : {".local/share/lutris/games/pipe.yml", ".config/heroic/GamesConfig/pipe.json"}) {
    home.MakeFolder(fs::path(pipe).parent_path().string());
    ASSERT_EQ(mkfifo(home.At(pipe).c_str(), 0600), 0);
  }
  std::string huge = "game:\n  exe: Dromvik.exe\nname: \"";
  huge.append(8 << 20, 'x');
  home.Write(".local/share/lutris/games/huge.yml", huge);
  home.Write(".config/heroic/GamesConfig/binary.json", std::string("\x00\xff\xfe{\"", 5));

  FinderDisk disk;
  const std::vector<FoundInstall> found = FindInstalls(KnownInstallPlaces(root, "", disk), disk);
  std::vector<std::string> labels;
  for (const FoundInstall& install : found)
    labels.push_back(fs::relative(install.folder, home.root()).string() + " = " + install.label);
  std::sort(labels.begin(), labels.end());
  EXPECT_EQ(labels, (std::vector<std::string>{
                        "Games/Heroic/Dromvik \xC3\xA9\xF0\x9F\x8F\x8E = Dromvik Legends \xC3\x89 (Heroic)",
                        "Games/lutris-\xC3\xA9/drive_c/Program Files/Zentoworks Racing Simulations Gold Edition = "
                        "Dromvik \xC3\x89" "dition (Lutris)",
                        "oldlib/steamapps/common/Dromvik = Dromvik (Steam)",
                    }));
  EXPECT_LE(disk.bytes_read(), std::size_t(disk.files_read()) * 256 * 1024);
}

// A home with 20,000 Wine prefixes, 5,000 Lutris files and 30,000 folders in
// ~/Games: the search opens no more than its share, reads each file once at
// most, and still finds ~/.wine's game and the one Lutris records.
TEST(InstallSearchRecordsTest, AHugeHomeCostsNoMoreThanItsShareAndTheOneGamePlacesComeFirst) {
  testing::TempGame home;
  home.Write(".wine/drive_c/Program Files (x86)/Dromvik/Dromvik.exe", "MZ");
  home.Write("lutris-game/Dromvik.exe", "MZ");
  for (int i = 0; i < 20000; ++i) fs::create_directories(home.At(".local/share/wineprefixes/p" + std::to_string(i)));
  home.MakeFolder("Games");
  for (int i = 0; i < 30000; ++i) fs::create_directory(home.At("Games/g" + std::to_string(i)));
  home.MakeFolder(".local/share/lutris/games");
  for (int i = 0; i < 5000; ++i)
    std::ofstream(home.At(".local/share/lutris/games/other-" + std::to_string(i) + ".yml"))
        << "game:\n  exe: /games/other.exe\nname: Other\n";
  home.Write(".local/share/lutris/games/dromvik-1.yml",
             "game:\n  exe: " + home.At("lutris-game/Dromvik.exe").string() + "\nname: Dromvik Gold\n");
  FinderDisk disk;
  const std::vector<FoundInstall> found = FindInstalls(KnownInstallPlaces(home.root().string(), "", disk), disk);
  std::vector<std::string> labels;
  for (const FoundInstall& install : found) labels.push_back(install.label);
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Dromvik (Wine: ~/.wine)"), labels.end()) << ::testing::PrintToString(labels);
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Dromvik Gold (Lutris)"), labels.end()) << ::testing::PrintToString(labels);
  EXPECT_LE(disk.folders_opened(), 400);
  EXPECT_LE(disk.files_read(), 5001 + 10);
  EXPECT_LE(disk.bytes_read(), std::size_t(5001) * 64 + 4096);
}

TEST_F(InstallSearchTest, SteamsRecordsNameTheGamesLibraryAndAppId) {
  Write("library2/steamapps/appmanifest_1234567.acf",
        "\"AppState\"\n{\n\t\"appid\"\t\t\"1234567\"\n\t\"name\"\t\t\"Dromvik\"\n\t\"installdir\"\t\t\"Dromvik\"\n}\n");
  Write("library2/steamapps/appmanifest_7654321.acf", "\"AppState\"\n{\n\t\"appid\"\t\t\"7654321\"\n\t\"installdir\"\t\t\"Other\"\n}\n");
  FinderDisk disk;
  const auto id_of = [&](std::string_view folder) -> std::optional<std::string> {
    const std::optional<SteamApp> app = SteamAppOf(Home(folder), disk);
    return app ? std::optional<std::string>(app->id) : std::nullopt;
  };
  EXPECT_EQ(id_of("library2/steamapps/common/Dromvik"), "1234567");
  EXPECT_EQ(id_of("library2/steamapps/common/Dromvik/sub"), "1234567");
  EXPECT_EQ(id_of("library2/steamapps/common/Unlisted"), std::nullopt);
  EXPECT_EQ(id_of(".wine/drive_c/Program Files (x86)/Dromvik"), std::nullopt);
}

}  // namespace
}  // namespace velmora

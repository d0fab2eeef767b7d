#include "app/notices.h"

#include "app/catalog.h"
#include "platform/testing/temp_game.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace velmora {
namespace {

#ifdef _WIN32
constexpr const char* kSpa = "ZENTOSEASON\\tracks\\Spa\\spa.gdb";
constexpr const char* kOne = "ZENTOSEASON\\tracks\\one";
constexpr const char* kTrackFolder = "season02\\tracks";
constexpr char kNativeSeparator = '\\';
#else
constexpr const char* kSpa = "ZENTOSEASON/tracks/Spa/spa.gdb";
constexpr const char* kOne = "ZENTOSEASON/tracks/one";
constexpr const char* kTrackFolder = "season02/tracks";
constexpr char kNativeSeparator = '/';
#endif

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(NoticesTest, ACopyIsToldOncePerCauseWithItsCountAndFirstFileAndEveryFileInTheDetails) {
  const GameFolder game("/games/Dromvik");
  CopyOutcome outcome;
  outcome.copied = 5388;
  outcome.already_there = 12;
  EXPECT_FALSE(NoticeOf(outcome, game)) << "a complete copy tells nothing";
  for (int i = 0; i < 212; ++i)
    outcome.failures.push_back({{"ZENTOSEASON", "tracks", "Spa", i ? "f" + std::to_string(i) : "spa.gdb"}, Cause::kDiskFull});
  for (int i = 0; i < 3; ++i) outcome.failures.push_back({{"ZENTOSEASON", "tracks", "c" + std::to_string(i)}, Cause::kChanged});
  outcome.failures.insert(outcome.failures.begin() + 5, {{"ZENTOSEASON", "tracks", "one"}, Cause::kInUse});
  const std::optional<Notice> notice = NoticeOf(outcome, game);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->text.substr(0, notice->text.find('\n')), "Copy files copied 5,388 files. 216 files could not be copied.");
  EXPECT_NE(notice->text.find(std::string("The disk is full: 212 files were not copied. The first is ") + kSpa +
                              ". Free some space, then press Copy files again."),
            std::string::npos)
      << notice->text;
  EXPECT_NE(notice->text.find("3 files changed while they were copied. The first is "), std::string::npos);
  EXPECT_NE(notice->text.find(std::string("The file ") + kOne + " was not copied because another program holds it open."),
            std::string::npos)
      << "one file is named as the file";
  EXPECT_EQ(Count(notice->text, "disk is full"), 1u);
  EXPECT_EQ(Count(notice->details, "\n"), 217u);  // a heading and every file
  EXPECT_EQ(Count(notice->details, "(disk full)"), 212u);
  // The details are sorted by path, whatever order the files failed in.
  std::vector<std::string> lines;
  for (std::size_t at = notice->details.find('\n') + 1, end; (end = notice->details.find('\n', at)) != std::string::npos;
       at = end + 1)
    lines.push_back(notice->details.substr(at, end - at));
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));

  // A group over several folders says so.
  CopyOutcome spread;
  spread.failures = {{{"ZENTOSEASON", "tracks", "Spa", "a"}, Cause::kReadOnlyDisk},
                     {{"ZENTOSEASON", "tracks", "Monza", "b"}, Cause::kReadOnlyDisk}};
  EXPECT_NE(NoticeOf(spread, game)->text.find("2 files were not copied. They lie in several folders; the first is "),
            std::string::npos)
      << NoticeOf(spread, game)->text;

  // Without the add-on, the missing folders come down to one word: install it.
  CopyOutcome uninstalled;
  uninstalled.season_folder_missing = true;
  uninstalled.failures = {{{"ZENTOSEASON", "tracks", "a"}, Cause::kFolderMissing},
                          {{"ZENTOSEASON", "TRACKS", "SPA", "b"}, Cause::kFolderMissing}};
  const std::string told = NoticeOf(uninstalled, game)->text;
  EXPECT_EQ(told.substr(told.find("\n\n") + 2),
#ifdef _WIN32
            "The add-on's folder ZENTOSEASON\\tracks is not in this game folder. Install Velmora first, then press "
#else
            "The add-on's folder ZENTOSEASON/tracks is not in this game folder. Install Velmora first, then press "
#endif
            "Copy files again.");
}

TEST(NoticesTest, AGameTrackFolderThatIsMissingALinkToNowhereOrEmptyIsTold) {
  const GameFolder game("/games/Dromvik");
  CopyOutcome missing;
  missing.unlisted = {{{"season02", "tracks"}, Cause::kFolderMissing, ""}};
  EXPECT_NE(NoticeOf(missing, game)->text.find(std::string("The game's track folder ") + kTrackFolder +
                                               " is not in the game folder"),
            std::string::npos);
  CopyOutcome linked;
  linked.unlisted = {{{"season02", "tracks"}, Cause::kFolderMissing, "/media/games/season02", {"season02"}}};
  EXPECT_NE(NoticeOf(linked, game)->text.find("lies behind season02, which is a link to /media/games/season02, "
                                              "where nothing is"),
            std::string::npos)
      << NoticeOf(linked, game)->text;
  CopyOutcome unmade;
  unmade.unmade = {{{"ZENTOSEASON", "tracks", "PITS"}, Cause::kNameTaken, 2}};
  unmade.failures = {{{"ZENTOSEASON", "tracks", "PITS", "a"}, Cause::kNameTaken},
                     {{"ZENTOSEASON", "tracks", "PITS", "crews", "b"}, Cause::kNameTaken}};
  const std::string told = NoticeOf(unmade, game)->text;
  EXPECT_NE(told.find("could not be made because a file or a link has its name: 2 files were not copied"),
            std::string::npos)
      << told;
  EXPECT_EQ(told.find("have their name"), std::string::npos) << "the files are told with their folder, once";
  EXPECT_NE(NoticeOf(unmade, game)->details.find("(its folder could not be made)"), std::string::npos);
  // A folder not made on a read-only disk is told once, with that disk.
  unmade.unmade[0].cause = Cause::kReadOnlyDisk;
  for (Failure& failure : unmade.failures) failure.cause = Cause::kReadOnlyDisk;
  const std::string read_only = NoticeOf(unmade, game)->text;
  EXPECT_EQ(Count(read_only, "read-only"), 1u) << read_only;
  CopyOutcome empty;
  empty.nothing_to_copy = true;
  EXPECT_NE(NoticeOf(empty, game)->text.find("Copy files found nothing to copy"), std::string::npos);
}

TEST(NoticesTest, CreateIniFileAdvisesClearingAReadOnlyMarkOnlyWhenTheFileWasThere) {
  IniOutcome refused{IniOutcome::Result::kNotWritten, Cause::kNotAllowed};
  EXPECT_EQ(NoticeOf(refused)->text.find("read-only mark"), std::string::npos) << NoticeOf(refused)->text;
  refused.replacing = true;
  EXPECT_NE(NoticeOf(refused)->text.find("Clear its read-only mark"), std::string::npos);
  EXPECT_NE(NoticeOf(IniOutcome{IniOutcome::Result::kNotWritten, Cause::kReadOnlyDisk})->text.find("Mount it writable"),
            std::string::npos);
  EXPECT_NE(NoticeOf(IniOutcome{IniOutcome::Result::kUnreadable, Cause::kNameTaken})->text.find("is a folder"),
            std::string::npos);
  EXPECT_NE(NoticeOf(IniOutcome{IniOutcome::Result::kUnreadable, Cause::kNotAllowed})->text.find("was not allowed "
                                                                                                  "to read Config.ini"),
            std::string::npos);
  IniOutcome no_season;
  no_season.no_season_key = true;
  EXPECT_NE(NoticeOf(no_season)->text.find("no SEASONDIR line"), std::string::npos);
  // Where names are case-sensitive an older spelling beside the new file is told, and left.
  IniOutcome beside;
  beside.name = kAddonConfigAsOpened;
  beside.other_spelling = "Qorvane.ini";
  ASSERT_TRUE(NoticeOf(beside));
  EXPECT_EQ(NoticeOf(beside)->text.find("Qorvane.INI was made. The game folder also holds an older Qorvane.ini"), 0u);
}

TEST(NoticesTest, EachOtherCommandTellsOnlyWhenItDidNotDoItsWork) {
  const GameFolder game("/games/Dromvik");
  EXPECT_FALSE(NoticeOf(IniOutcome{}));
  EXPECT_NE(NoticeOf(IniOutcome{IniOutcome::Result::kNoGameConfig})->text.find("Config.ini is not in the game folder"),
            std::string::npos);
  EXPECT_NE(NoticeOf(IniOutcome{IniOutcome::Result::kNotWritten, Cause::kDiskFull})->text.find("the disk is full"),
            std::string::npos);
  EXPECT_FALSE(NoticeOf(LaunchOutcome{}, game));
  EXPECT_NE(NoticeOf(LaunchOutcome{LaunchOutcome::Result::kNoWine}, game)->text.find("wine32:i386"), std::string::npos);
  LaunchOutcome refused{LaunchOutcome::Result::kStartFailed};
  refused.failure.refusal = "Exec format error";
  EXPECT_NE(NoticeOf(refused, game)->text.find("Dromvik.exe could not be run: Exec format error."), std::string::npos);
}

TEST(NoticesTest, AFailingStarterIsToldByWhatItWasWithAdviceThatFitsIt) {
  const GameFolder game("/games/Dromvik");
  LaunchOutcome named{LaunchOutcome::Result::kStartFailed, LaunchOutcome::Starter::kWineNamed, "/opt/wine-9/bin/wine"};
  named.failure.status = 1;
  named.failure.said = "wine: could not load ntdll.so";
  EXPECT_EQ(NoticeOf(named, game)->text,
            "The game was not started: the wine that WINE names (/opt/wine-9/bin/wine) ended with status 1. Unset "
            "WINE, or point it at a working wine, then press Run Velmora again.\n\nIt said:\n\nwine: could not load "
            "ntdll.so");
  LaunchOutcome steam{LaunchOutcome::Result::kStartFailed, LaunchOutcome::Starter::kSteam, "steam"};
  steam.failure.refusal = "No such file or directory";
  EXPECT_EQ(NoticeOf(steam, game)->text,
            "The game was not started: Steam (steam) could not be run: No such file or directory. Start Steam, then "
            "press Run Velmora again.");
}

TEST(NoticesTest, CopiesTheDiskDidNotConfirmAreCopiedNotFailedAndListedApart) {
  const GameFolder game("/games/Dromvik");
  CopyOutcome outcome;
  outcome.copied = 10;
  outcome.failures = {{{"ZENTOSeason", "tracks", "Pits", "ORDER.PIT"}, Cause::kNotFlushed}};
  std::optional<Notice> notice = NoticeOf(outcome, game);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->text.find("could not be copied"), std::string::npos) << notice->text;
  EXPECT_EQ(notice->text.find("Copy files copied 10 files, but not all it should."), 0u) << notice->text;
  EXPECT_EQ(notice->details.find("Files not copied"), std::string::npos) << notice->details;
  EXPECT_EQ(notice->details.find("Files copied, but not confirmed saved by the disk:\n"), 0u) << notice->details;
  outcome.failures.push_back({{"ZENTOSEASON", "tracks", "Spa", "a"}, Cause::kDiskFull});
  notice = NoticeOf(outcome, game);
  EXPECT_EQ(notice->text.find("Copy files copied 10 files. 1 file could not be copied."), 0u) << notice->text;
}

TEST(NoticesTest, AMissingFolderIsSpelledOneWayAndAFolderNotAllowedIsNamedFromTheGameFolderWithItsOwnAdvice) {
  const GameFolder game("/games/Dromvik");
  CopyOutcome missing;
  missing.failures = {{{"ZENTOSEASON", "tracks", "Spa", "a"}, Cause::kFolderMissing},
                      {{"ZENTOSeason", "tracks", "Pits", "b"}, Cause::kFolderMissing}};
  const std::string details = NoticeOf(missing, game)->details;
  EXPECT_EQ(details.find("ZENTOSeason"), std::string::npos) << details;
  EXPECT_NE(details.find(std::string("ZENTOSEASON") + kNativeSeparator + "tracks" + kNativeSeparator + "Pits"),
            std::string::npos)
      << details;
  CopyOutcome refused;
  refused.failures = {{{"ZENTOSEASON", "tracks", "Monaco", "a.dat"}, Cause::kNotAllowed},
                      {{"ZENTOSEASON", "tracks", "Monaco", "b.dat"}, Cause::kNotAllowed}};
  const std::string monaco = std::string("ZENTOSEASON") + kNativeSeparator + "tracks" + kNativeSeparator + "Monaco";
  EXPECT_NE(NoticeOf(refused, game)->text.find("The utility was not allowed to write in " + monaco +
                                              ": 2 files were not copied. The first is " + monaco + kNativeSeparator +
                                              "a.dat. Make sure you may change the folder " + monaco),
            std::string::npos)
      << NoticeOf(refused, game)->text;
  EXPECT_EQ(NoticeOf(refused, game)->text.find(game.Root()), std::string::npos);
}

TEST(NoticesTest, AGameWhoseTrackFolderIsMissingIsAdvisedToBeRepairedNotToBeLookedForElsewhere) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "velmora-notices-test";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "Dromvik.exe") << "MZ";
  CopyOutcome missing;
  missing.unlisted = {{{"season02", "tracks"}, Cause::kFolderMissing, ""}};
  const std::string told = NoticeOf(missing, GameFolder(folder.string()))->text;
  std::filesystem::remove_all(folder);
  EXPECT_NE(told.find("The game's installation is not whole: repair it"), std::string::npos) << told;
  EXPECT_EQ(told.find("Start Velmora Config in the folder"), std::string::npos) << told;
}

TEST(NoticesTest, CreateIniFileTellsWhichFoldersItNamesAreMissing) {
  IniOutcome written;
  written.missing_folders = {{"OPTIONSDIR", "ZENTOOPTIONS"}, {"SAVEDIR", "ZENTOSAVE"}};
  EXPECT_EQ(NoticeOf(written)->text,
            "Qorvane.ini was made. The game folder has no folder ZENTOOPTIONS, where Qorvane.ini has the game keep "
            "Velmora's options. The game folder has no folder ZENTOSAVE, where Qorvane.ini has the game keep "
            "Velmora's saved games. Make those folders in the game folder, or install Velmora again.");
}

#ifdef _WIN32
// Another program (an editor, the game) holding Config.ini open without
// letting others read it: Windows refuses with ERROR_SHARING_VIOLATION.
TEST(NoticesTest, AConfigIniHeldOpenByAnotherProgramIsToldAsInUse) {
  testing::TempGame temp;
  temp.Write("Config.ini", "SEASONDIR=season02\\\r\n");
  const HANDLE held = CreateFileW(temp.At("Config.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  StringList new_ini;
  const IniOutcome outcome = CreateConfigIni(*OpenFileSystem(temp.game()), new_ini);
  CloseHandle(held);
  EXPECT_EQ(outcome.cause, Cause::kInUse);
  EXPECT_EQ(NoticeOf(outcome)->text.find("Another program holds Config.ini open, so Qorvane.ini was not made. Close "
                                         "the game if it runs"),
            0u)
      << NoticeOf(outcome)->text;
}
#endif

TEST(NoticesTest, PlaceholdersAreFilledWhereverTheTranslationPutsThem) {
  EXPECT_EQ(Fill("{b} und {a}, {a}", {{"a", "1"}, {"b", "2"}}), "2 und 1, 1");
  EXPECT_EQ(Fill("{unknown} {a} {", {{"a", "x"}}), "{unknown} x {");
  EXPECT_EQ(Counted(1234567), "1,234,567");
  EXPECT_EQ(Counted(999), "999");
}

}  // namespace
}  // namespace velmora

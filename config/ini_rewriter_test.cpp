#include "config/ini_rewriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "config/create_config_fixture.h"
#include "config/rewrite_property.h"

namespace velmora {
namespace {

using testing::TempGame;
namespace fs = std::filesystem;

TEST(RewriteLineTest, ReplacesLinesThatBeginWithAKeyInAnyCase) {
  EXPECT_EQ(RewriteLine("SEASONDIR=season02\\"), "SEASONDIR=ZENTOSEASON\\");
  EXPECT_EQ(RewriteLine("optionsdir=options\\"), "OPTIONSDIR=ZENTOOPTIONS\\");
  EXPECT_EQ(RewriteLine("ReplayDir=vcr ; comment"), "REPLAYDIR=ZENTOVCR\\");
  EXPECT_EQ(RewriteLine("savedir=save\\"), "SAVEDIR=ZENTOSAVE\\");
  EXPECT_EQ(RewriteLine("SAVEDIRX=1"), "SAVEDIR=ZENTOSAVE\\");
  EXPECT_EQ(RewriteLine("SEASONDIRS=2"), "SEASONDIR=ZENTOSEASON\\");
  EXPECT_EQ(RewriteLine("REPLAYDIR"), "REPLAYDIR=ZENTOVCR\\");
}

TEST(RewriteLineTest, KeepsEveryOtherLineAsItIs) {
  for (const char* line : {" SAVEDIR=x", "\tSAVEDIR=x", ";SAVEDIR=x", "SAVE", "", "[ Game Options ]",
                           "Resolution=1024x768 ", "SAVE DIR=x"})
    EXPECT_EQ(RewriteLine(line), line);
}

std::vector<std::string> Lines(std::string_view text) {
  StringList list;
  AddRewrittenLines(text, list);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < list.ListCount(); ++i) lines.emplace_back(list.List(i));
  return lines;
}

TEST(AddRewrittenLinesTest, EndsLinesAtCrLfOrLfAndKeepsALoneCr) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines(""), V{});
  EXPECT_EQ(Lines("\n"), V{""});
  EXPECT_EQ(Lines("\r\n\r\n"), (V{"", ""}));
  EXPECT_EQ(Lines("a\r\nb\nc"), (V{"a", "b", "c"}));
  EXPECT_EQ(Lines("a\rb\r\n"), V{"a\rb"});
  EXPECT_EQ(Lines("a\rb\n"), V{"a\rb"});
  EXPECT_EQ(Lines(std::string("n\0l\xe9\n", 5)), V{std::string("n\0l\xe9", 4)});
}

TEST(AddRewrittenLinesTest, ATextWithoutAnyLfEndsItsLinesAtCr) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines("SaveDir=save\\\r[Graphics]\rDetail=High\r"),
            (V{"SAVEDIR=ZENTOSAVE\\", "[Graphics]", "Detail=High"}));
  EXPECT_EQ(Lines("a\r\rb"), (V{"a", "", "b"}));
  EXPECT_EQ(Lines("\r"), V{""});
}

TEST(RewritePropertyTest, HoldsForManyGeneratedInputs) {
  const std::vector<std::string> pieces = {"SEASONDIR", "optionsdir", "ReplayDir", "SAVE", "savedir=", "=",
                                           "x", " ", "\t", ";", "\r", "\n", "\r\n", "\xe9", std::string(1, '\0')};
  std::mt19937 random(1);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int n = random() % 40; n > 0; --n) text += pieces[random() % pieces.size()];
    ASSERT_EQ(RewriteViolation(text), "") << "input: " << ::testing::PrintToString(text);
  }
}

TEST_F(CreateConfigIniTest, WritesEveryLineWithCrLfAndTheFolderKeysReplaced) {
  temp_.Write("Config.ini",
              "[ Game Options ]\r\nSEASONDIR=season02\\\r\n\r\nsavedir=save ; games\n Replaydir=x\r\n"
              "Caf\xe9=1\r\nSaveDir=again\r\nlast line without end");
  Run();
  EXPECT_EQ(temp_.Read("Qorvane.ini"),
            "[ Game Options ]\r\nSEASONDIR=ZENTOSEASON\\\r\n\r\nSAVEDIR=ZENTOSAVE\\\r\n Replaydir=x\r\n"
            "Caf\xe9=1\r\nSAVEDIR=ZENTOSAVE\\\r\nlast line without end\r\n");
  EXPECT_EQ(temp_.Read("Config.ini").substr(0, 16), "[ Game Options ]");
  const std::string first = temp_.Read("Qorvane.ini");
  Run();
  EXPECT_EQ(temp_.Read("Qorvane.ini"), first);
  // The lines go straight to the file: memory holds the game's file alone.
  EXPECT_EQ(new_ini_.ListCount(), 0u);
}

TEST_F(CreateConfigIniTest, AnEmptyConfigGivesAnEmptyFileReplacingTheOldOne) {
  temp_.Write("Config.ini", "");
  temp_.Write("Qorvane.ini", "old");
  Run();
  EXPECT_TRUE(temp_.Exists("Qorvane.ini"));
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "");
}

TEST_F(CreateConfigIniTest, WithoutAConfigNothingIsWrittenAndTheOldFileStays) {
  Run();
  EXPECT_FALSE(temp_.Exists("Qorvane.ini"));
  temp_.Write("Qorvane.ini", "old");
  new_ini_.AddItem("left over");
  Run();
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old");
  EXPECT_EQ(new_ini_.ListCount(), 0u);
}

TEST_F(CreateConfigIniTest, FindsTheFilesInAnyLetterCaseAndKeepsOneQorvaneIni) {
  temp_.Write("CONFIG.INI", "SEASONDIR=a\r\n");
  temp_.Write("QORVANE.INI", "old");
  Run();
  EXPECT_EQ(Names().size(), 2u);
#ifndef _WIN32
  EXPECT_EQ(Names(), (std::vector<std::string>{"CONFIG.INI", "QORVANE.INI"}));
#endif
  EXPECT_EQ(temp_.Read("QORVANE.INI"), "SEASONDIR=ZENTOSEASON\\\r\n");
}

TEST_F(CreateConfigIniTest, AReadOnlyQorvaneIniStaysUnchanged) {
  temp_.Write("Config.ini", "SEASONDIR=a\r\n");
  temp_.Write("Qorvane.ini", "old");
  fs::permissions(temp_.At("Qorvane.ini"), fs::perms::owner_read | fs::perms::group_read);
  Run();
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Config.ini", "Qorvane.ini"}));
}

TEST_F(CreateConfigIniTest, RewritesMoreThan32767LinesWhole) {
  std::string config;
  for (int i = 0; i < 40000; ++i) config += "Key" + std::to_string(i) + "=1\n";
  temp_.Write("Config.ini", config + "SAVEDIR=x\n");
  Run();
  const std::string written = temp_.Read("Qorvane.ini");
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 40001);
  EXPECT_EQ(written.substr(written.size() - 20), "SAVEDIR=ZENTOSAVE\\\r\n");
}

TEST_F(CreateConfigIniTest, TellsHowManyBytesOfTheGamesConfigurationAreDoneAsItGoes) {
  std::string config;
  for (int i = 0; i < 40000; ++i) config += "Key" + std::to_string(i) + "=1\r\n";
  temp_.Write("Config.ini", config);
  struct Recorded : Progress {
    bool Wanted() override { return true; }
    void Report(std::uint64_t done, std::uint64_t total) override { figures.push_back({done, total}); }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> figures;
  } progress;
  CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_, progress);
  ASSERT_GE(progress.figures.size(), 5u);
  EXPECT_EQ(progress.figures.front().second, 0u) << "the size is not known before the read";
  std::uint64_t done = 0;
  for (std::size_t i = 1; i < progress.figures.size(); ++i) {
    EXPECT_EQ(progress.figures[i].second, config.size());
    EXPECT_GT(progress.figures[i].first, done);
    EXPECT_LE(progress.figures[i].first, config.size());
    done = progress.figures[i].first;
  }
}

TEST_F(CreateConfigIniTest, TheOutcomeTakesTheCauseOfTheReadAndSaysWhatTheWrittenFileLacks) {
  temp_.MakeFolder("Config.ini");
  IniOutcome outcome = CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_);
  EXPECT_EQ(outcome.result, IniOutcome::Result::kUnreadable) << "a folder is no missing file";
  EXPECT_EQ(outcome.cause, Cause::kNameTaken);
  std::filesystem::remove(temp_.At("Config.ini"));
  outcome = CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_);
  EXPECT_EQ(outcome.result, IniOutcome::Result::kNoGameConfig);

  temp_.Write("Config.ini", "SaveDir=save\\\r\n");
  outcome = CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_);
  EXPECT_EQ(outcome.result, IniOutcome::Result::kWritten);
  EXPECT_FALSE(outcome.replacing);
  EXPECT_TRUE(outcome.no_season_key) << "written, but the game would not race the add-on's season";
  temp_.Write("Config.ini", "seasondir=season02\\\r\n");
  outcome = CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_);
  EXPECT_TRUE(outcome.replacing);
  EXPECT_FALSE(outcome.no_season_key);
}

TEST_F(CreateConfigIniTest, TheFoldersTheFileNamesForOptionsReplaysAndSavesAreToldWhenTheGameFolderLacksThem) {
  temp_.Write("Config.ini", "SEASONDIR=season02\\\r\nOptionsDir=options\\\r\nSAVEDIR=save\\\r\nsavedir=x\r\n");
  temp_.MakeFolder("zentosave");  // the game finds it in any letter case
  IniOutcome outcome = CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_);
  using Named = std::vector<std::pair<std::string_view, std::string_view>>;
  EXPECT_EQ(outcome.missing_folders, (Named{{"OPTIONSDIR", "ZENTOOPTIONS"}})) << "no replays named, saves there";
  temp_.Write("ZENTOOPTIONS", "a file is no folder");
  EXPECT_EQ(CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_).missing_folders,
            (Named{{"OPTIONSDIR", "ZENTOOPTIONS"}}));
  std::filesystem::remove(temp_.At("ZENTOOPTIONS"));
  temp_.MakeFolder("ZENTOOPTIONS");
  EXPECT_TRUE(CreateConfigIni(*OpenFileSystem(temp_.game()), new_ini_).missing_folders.empty());
}

// A read that fails part-way.
class FailingRead : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  Found<std::string> ReadFile(const GamePath&) override { return Cause::kDiskError; }
};

TEST_F(CreateConfigIniTest, AConfigThatCannotBeReadWritesNothing) {
  temp_.Write("Config.ini", "SEASONDIR=a\r\n");
  temp_.Write("Qorvane.ini", "old");
  auto real = OpenFileSystem(temp_.game());
  FailingRead failing(*real);
  CreateConfigIni(failing, new_ini_);
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old");
}

}  // namespace
}  // namespace velmora

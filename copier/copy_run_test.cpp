#include "copier/copy_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "copier/copy_progress.h"
#include "copier/copy_run_fixture.h"
#include "platform/testing/refused_threads.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST_F(CopyRunTest, CopiesWhatThePlanKeepsIntoExistingTargetFolders) {
  temp_.Write("season02/tracks/season.trk", "list");
  temp_.Write("season02/tracks/season.aiw", "line");
  temp_.Write("season02/tracks/Monaco/Monaco.gdb", "geometry");
  temp_.Write("season02/tracks/Monaco/monaco.mas", "archive");
  temp_.Write("season02/tracks/Monaco/monaco.mas.old", "backup");
  temp_.Write("season02/tracks/Monaco/MONACO.AIW", "line");
  temp_.Write("season02/tracks/Monaco/deeper/deep.gdb", "deep");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  const CopyOutcome outcome = Run();
  EXPECT_EQ(outcome.copied, 3u);
  EXPECT_TRUE(outcome.failures.empty());
  EXPECT_EQ(Names("ZENTOSEASON/tracks"), (std::vector<std::string>{"Monaco", "season.trk"}));
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco"), (std::vector<std::string>{"Monaco.gdb", "monaco.mas.old"}));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/Monaco.gdb"), "geometry");
}

TEST_F(CopyRunTest, CopiesKeepTheSourcesModificationTimeAndPermissionBits) {
  temp_.Write("season02/tracks/run.sh", "#!/bin/sh\n");
  const auto source = temp_.At("season02/tracks/run.sh");
  fs::permissions(source, fs::perms::owner_all | fs::perms::group_read);
  const auto old_time = fs::last_write_time(source) - std::chrono::hours(48);
  fs::last_write_time(source, old_time);
  temp_.MakeFolder("ZENTOSEASON/tracks");
  Run();
  const auto copy = temp_.At("ZENTOSEASON/tracks/run.sh");
  EXPECT_EQ(fs::last_write_time(copy), old_time);
#ifndef _WIN32
  EXPECT_EQ(fs::status(copy).permissions(), fs::perms::owner_all | fs::perms::group_read);
#endif
}

TEST_F(CopyRunTest, NeverReplacesAFileAlreadyThereInAnyLetterCase) {
  temp_.Write("season02/tracks/Brazil/TRACK.GDB", "new");
  temp_.Write("season02/tracks/Brazil/same.cam", "new");
  temp_.Write("ZENTOSEASON/tracks/brazil/track.gdb", "old");
  temp_.Write("ZENTOSEASON/tracks/brazil/same.cam", "old");
  const auto old_time = fs::last_write_time(temp_.At("ZENTOSEASON/tracks/brazil/same.cam")) - std::chrono::hours(1);
  fs::last_write_time(temp_.At("ZENTOSEASON/tracks/brazil/same.cam"), old_time);
  const CopyOutcome outcome = Run();
  EXPECT_EQ(outcome.already_there, 2u) << "a file already there is no failure";
  EXPECT_TRUE(outcome.failures.empty());
  EXPECT_EQ(Names("ZENTOSEASON/tracks/brazil"), (std::vector<std::string>{"same.cam", "track.gdb"}));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/brazil/track.gdb"), "old");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/brazil/same.cam"), "old");
  EXPECT_EQ(fs::last_write_time(temp_.At("ZENTOSEASON/tracks/brazil/same.cam")), old_time);
}

#ifndef _WIN32  // on Windows the file system compares names itself
TEST_F(CopyRunTest, NamesWithLettersBeyondAToZMatchInAnyLetterCaseAsOnWindows) {
  temp_.Write("season02/tracks/Zürich/Évian.gdb", "new");
  temp_.Write("season02/tracks/Zürich/straße.cam", "new");
  temp_.Write("ZENTOSEASON/tracks/ZÜRICH/éVIAN.GDB", "old");
  Run();
  EXPECT_EQ(Names("ZENTOSEASON/tracks/ZÜRICH"), (std::vector<std::string>{"straße.cam", "éVIAN.GDB"}));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/ZÜRICH/éVIAN.GDB"), "old");
}
#endif

#ifndef _WIN32  // two source folders whose names differ only in letter case
TEST_F(CopyRunTest, TwoSourceFoldersSharingOneTargetCopyEachNameOnceAfterTheFirstFolderIsDoneWith) {
  // Folders are done with as the copy moves on; the target is kept while
  // another pair still writes into it, and the second folder's copies find
  // the first's there, even while they still wait for their names.
  temp_.Write("season02/tracks/Monaco/track.gdb", "first");
  temp_.Write("season02/tracks/Monaco/only.cam", "first");
  temp_.Write("season02/tracks/MONACO/TRACK.GDB", "second");
  temp_.Write("season02/tracks/MONACO/lights.dat", "second");
  temp_.MakeFolder("ZENTOSEASON/tracks/MONACO");
  const CopyOutcome outcome = Run();
  EXPECT_EQ(outcome.copied, 3u);
  EXPECT_EQ(outcome.already_there, 1u);
  EXPECT_TRUE(outcome.failures.empty()) << "a copy waiting for its name is a file already there";
  EXPECT_EQ(Names("ZENTOSEASON/tracks/MONACO"), (std::vector<std::string>{"TRACK.GDB", "lights.dat", "only.cam"}))
      << "copied once, in the spelling of the folder listed first";
}
#endif

TEST_F(CopyRunTest, ASourceNamedInAnotherLetterCaseIsFoundAndCopiedUnderTheNameGiven) {
  temp_.Write("season02/tracks/Monaco/Monaco.gdb", "geometry");
  temp_.Write("season02/tracks/Monaco/Monaco.cam", "camera");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  auto file_system = OpenFileSystem(temp_.game());
  const GamePath into{"ZENTOSEASON", "tracks", "Monaco"};
  EXPECT_TRUE(file_system->CopyFile({"season02", "tracks", "Monaco", "Monaco.cam"}, into, Replace::kNo));
  EXPECT_TRUE(file_system->CopyFile({"SEASON02", "Tracks", "monaco", "MONACO.GDB"}, into, Replace::kNo));
  EXPECT_FALSE(file_system->CopyFile({"season02", "tracks", "Monaco", "Missing.gdb"}, into, Replace::kNo));
  file_system.reset();
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco"), (std::vector<std::string>{"MONACO.GDB", "Monaco.cam"}));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/MONACO.GDB"), "geometry");
}

TEST_F(CopyRunTest, WithoutTheAddOnEveryFileIsToldButACircuitTheAddOnLacksIsPassedOverInSilence) {
  temp_.Write("season02/tracks/Japan/Japan.gdb", "x");
  temp_.Write("season02/tracks/season.trk", "x");
  CopyOutcome outcome = Run();
  EXPECT_TRUE(outcome.season_folder_missing);
  EXPECT_EQ(Failures(outcome), (std::vector<std::string>{Failed("ZENTOSEASON/tracks/Japan/Japan.gdb", Cause::kFolderMissing),
                                                         Failed("ZENTOSEASON/tracks/season.trk", Cause::kFolderMissing)}))
      << "a folder that is not there is named as the game's own folder names it";
  temp_.MakeFolder("ZENTOSEASON/tracks");
  outcome = Run();
  EXPECT_EQ(Names("ZENTOSEASON/tracks"), std::vector<std::string>{"season.trk"}) << "no circuit folder is made";
  EXPECT_FALSE(outcome.season_folder_missing);
  EXPECT_EQ(outcome.copied, 1u);
  EXPECT_TRUE(outcome.failures.empty()) << "the add-on's season races fewer circuits than the game";
}

TEST_F(CopyRunTest, WithoutATrackFolderNothingIsCopiedAndThePlanHasOnePair) {
  temp_.Write("season02/readme.txt", "x");
  temp_.MakeFolder("ZENTOSEASON");
  Run();
  EXPECT_TRUE(Names("ZENTOSEASON").empty());
  EXPECT_EQ(dirs_.ListCount(), 1u);
  EXPECT_EQ(not_copy_.ListCount(), 54u);
}

// A circuit folder the system will not list for this user.
class UnlistableMonaco : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  Found<std::vector<Entry>> List(const GamePath& folder) override {
    if (folder.size() == 3 && folder[2] == "Monaco") return Cause::kNotAllowed;
    return FileSystemWrapper::List(folder);
  }
};

TEST_F(CopyRunTest, TheGamesFoldersThatCannotBeListedAreToldWithTheirCauseAndAnEmptyTrackFolderToo) {
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  CopyOutcome outcome = Run();
  ASSERT_EQ(outcome.unlisted.size(), 1u) << "no track folder at all";
  EXPECT_EQ(outcome.unlisted[0].folder, (GamePath{"season02", "tracks"}));
  EXPECT_EQ(outcome.unlisted[0].cause, Cause::kFolderMissing);
  EXPECT_FALSE(outcome.nothing_to_copy);

  temp_.MakeFolder("season02/tracks/pits");
  outcome = Run();
  EXPECT_TRUE(outcome.unlisted.empty());
  EXPECT_TRUE(outcome.nothing_to_copy) << "a track folder with nothing in it";

  temp_.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp_.Write("season02/tracks/season.trk", "x");
  auto real = OpenFileSystem(temp_.game());
  UnlistableMonaco unlistable(*real);
  outcome = CopySeasonFiles(temp_.game(), unlistable, {not_copy_, dirs_, dirs2_, dir1_, file1_});
  ASSERT_EQ(outcome.unlisted.size(), 1u);
  EXPECT_EQ(outcome.unlisted[0].folder, (GamePath{"season02", "tracks", "Monaco"}));
  EXPECT_EQ(outcome.unlisted[0].cause, Cause::kNotAllowed);
  EXPECT_EQ(outcome.copied, 1u);
  EXPECT_FALSE(outcome.nothing_to_copy);
}

#ifndef _WIN32
TEST_F(CopyRunTest, ATrackFolderLinkedToADiskThatIsNotThereIsToldWithWhereItLeads) {
  temp_.MakeFolder("ZENTOSEASON/tracks");
  fs::create_directory_symlink("/media/velmora-test-not-mounted/season02", temp_.At("season02"));
  const CopyOutcome outcome = Run();
  ASSERT_EQ(outcome.unlisted.size(), 1u);
  EXPECT_EQ(outcome.unlisted[0].folder, (GamePath{"season02", "tracks"}));
  EXPECT_EQ(outcome.unlisted[0].cause, Cause::kFolderMissing);
  EXPECT_EQ(outcome.unlisted[0].leads_to, "/media/velmora-test-not-mounted/season02");
  EXPECT_EQ(outcome.unlisted[0].link, GamePath{"season02"});
}
#endif

TEST_F(CopyRunTest, APitsFolderThatCannotBeMadeFailsEveryFileBelowItForItsOwnCause) {
  temp_.Write("season02/tracks/pits/ORDER.PIT", "order");
  temp_.Write("season02/tracks/pits/crews/deep/garage.dat", "deep");
  temp_.Write("ZENTOSEASON/tracks/pits", "a file where the folder goes");
  const CopyOutcome outcome = Run();
  EXPECT_EQ(Failures(outcome), (std::vector<std::string>{Failed("ZENTOSEASON/tracks/pits/ORDER.PIT", Cause::kNameTaken),
                                                         Failed("ZENTOSEASON/tracks/pits/crews/deep/garage.dat",
                                                                Cause::kNameTaken)}))
      << "the file's own name, and the folders that are not there named as the game names them";
  ASSERT_EQ(outcome.unmade.size(), 1u) << "the uppermost folder that could not be made";
  EXPECT_EQ(outcome.unmade[0].folder, (GamePath{"ZENTOSEASON", "tracks", "pits"}));
  EXPECT_EQ(outcome.unmade[0].files, 2u);
}

TEST_F(CopyRunTest, ASecondRunBuildsTheSamePlanAndChangesNothing) {
  temp_.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  Run();
  const std::vector<std::string> first = Plan();
  Run();
  EXPECT_EQ(Plan(), first);
  EXPECT_EQ(not_copy_.ListCount(), 54u);
  EXPECT_EQ(dirs_.ListCount(), 2u);
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco"), std::vector<std::string>{"Monaco.gdb"});
}

TEST_F(CopyRunTest, CopiesThePitsFolderWholeReplacingFilesAndCreatingFolders) {
  temp_.Write("season02/tracks/pits/ORDER.PIT", "order");
  temp_.Write("season02/tracks/pits/lane.aiw", "line");
  temp_.Write("season02/tracks/pits/.crew", "hidden");
  temp_.Write("season02/tracks/pits/crews/deep/garage.dat", "deep");
  temp_.Write("ZENTOSEASON/tracks/Pits/order.pit", "old order");
  temp_.Write("ZENTOSEASON/tracks/Pits/mine.txt", "kept");
  Run();
  EXPECT_EQ(UpperNames("ZENTOSEASON/tracks/Pits"),
            (std::vector<std::string>{".CREW", "CREWS", "LANE.AIW", "MINE.TXT", "ORDER.PIT"}));
#ifndef _WIN32
  EXPECT_TRUE(temp_.Exists("ZENTOSEASON/tracks/Pits/order.pit"));  // replaced under its own spelling
#endif
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/order.pit"), "order");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/crews/deep/garage.dat"), "deep");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/mine.txt"), "kept");
}

TEST_F(CopyRunTest, APitsFileOfTheSameSizeAndTimeButOtherBytesIsReplaced) {
  temp_.Write("season02/tracks/pits/same.dat", "new bytes");
  temp_.Write("ZENTOSEASON/tracks/Pits/same.dat", "old bytes");
  const auto time = fs::last_write_time(temp_.At("season02/tracks/pits/same.dat"));
  fs::last_write_time(temp_.At("ZENTOSEASON/tracks/Pits/same.dat"), time);
  Run();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/same.dat"), "new bytes");
  Run();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/same.dat"), "new bytes");
}

TEST_F(CopyRunTest, ThePitsFolderIsCreatedOnlyBelowAnExistingSeasonTrackFolder) {
  temp_.Write("season02/tracks/pits/ORDER.PIT", "order");
  Run();
  EXPECT_FALSE(temp_.Exists("ZENTOSEASON"));
  EXPECT_FALSE(temp_.Exists("ZENTOSeason"));
  temp_.MakeFolder("ZENTOSEASON/tracks");
  Run();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "order");
}

// Counts the copies asked for, by source name and whether they replace.
class CountingFileSystem : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    ++copies[source.back() + (replace == Replace::kYes ? " replacing" : " not replacing")];
    return FileSystemWrapper::CopyFile(source, target_folder, replace);
  }
  std::map<std::string, int> copies;
};

TEST_F(CopyRunTest, APitsFolderThatIsAlsoATrackSubFolderPairHasEachFileCopiedOnceByThePitsRule) {
  temp_.Write("season02/tracks/pits/ORDER.PIT", "order");
  temp_.Write("season02/tracks/pits/lane.aiw", "line");
  temp_.Write("season02/tracks/pits/garage.dat", "new");
  temp_.Write("ZENTOSeason/tracks/Pits/garage.dat", "old");
  auto real = OpenFileSystem(temp_.game());
  CountingFileSystem counting(*real);
  CopySeasonFiles(temp_.game(), counting, {not_copy_, dirs_, dirs2_, dir1_, file1_});
  real.reset();
  // The plan still pairs the folder; its files are copied by the pits copy alone.
  EXPECT_EQ(dirs_.ListCount(), 2u);
  EXPECT_EQ(counting.copies, (std::map<std::string, int>{
                                 {"ORDER.PIT replacing", 1}, {"garage.dat replacing", 1}, {"lane.aiw replacing", 1}}));
  EXPECT_EQ(temp_.Read("ZENTOSeason/tracks/Pits/garage.dat"), "new");
  EXPECT_EQ(temp_.Read("ZENTOSeason/tracks/Pits/ORDER.PIT"), "order");
  EXPECT_EQ(temp_.Read("ZENTOSeason/tracks/Pits/lane.aiw"), "line");
}

// Takes its time over each copy, so that a run lasts long enough to be summed.
class SlowCopies : public FileSystemWrapper {
 public:
  using FileSystemWrapper::FileSystemWrapper;
  FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return FileSystemWrapper::CopyFile(source, target_folder, replace);
  }
};

void MakeSizedGame(testing::TempGame& temp) {
  temp.Write("season02/tracks/Monaco/a.gdb", std::string(1000, 'a'));
  temp.Write("season02/tracks/Monaco/b.gdb", std::string(2000, 'b'));
  temp.Write("season02/tracks/Monaco/Monaco.aiw", std::string(50000, 'l'));  // never copied
  temp.Write("season02/tracks/Monaco/.hidden", std::string(70000, 'h'));     // never listed
  temp.Write("season02/tracks/pits/lane.txt", std::string(300, 'p'));
  for (int i = 0; i < 10; ++i) temp.Write("season02/tracks/Monaco/c" + std::to_string(i) + ".gdb", std::string(100, 'c'));
  temp.Write("ZENTOSEASON/tracks/Monaco/b.gdb", "already there");
}

TEST_F(CopyRunTest, ProgressIsToldInBytesOfTheFilesTheRunTakesUpWithFilesAlreadyThereCountedAsDone) {
  MakeSizedGame(temp_);
  EXPECT_EQ(PlanBytes(temp_.game(), {not_copy_, dirs_, dirs2_}), 300u) << "before a plan: the pits alone";
  RecordedProgress progress;
  {
    auto real = OpenFileSystem(temp_.game());
    SlowCopies slow(*real);
    CopySeasonFiles(temp_.game(), slow, {not_copy_, dirs_, dirs2_, dir1_, file1_}, progress);
  }
  const auto figures = progress.figures();
  ASSERT_GE(figures.size(), 2u);
  EXPECT_EQ(figures.front(), std::make_pair(std::uint64_t(0), std::uint64_t(0))) << "before the plan";
  std::uint64_t done = 0;
  for (std::size_t i = 1; i < figures.size(); ++i) {
    const auto [now_done, total] = figures[i];
    ASSERT_EQ(total, 4300u) << "at " << i;
    EXPECT_GE(now_done, done);
    if (i + 1 < figures.size()) {
      EXPECT_LT(now_done, total) << "the whole told before the end";
    }
    done = now_done;
  }
  EXPECT_EQ(figures.back(), std::make_pair(std::uint64_t(4300), std::uint64_t(4300)));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/b.gdb"), "already there");
}

TEST_F(CopyRunTest, WithoutAThreadToTellProgressTheAmountStaysUnknownAndTheCopyIsWhole) {
  MakeSizedGame(temp_);
  testing::RefusedThreads refused({"progress"});
  RecordedProgress progress;
  {
    auto real = OpenFileSystem(temp_.game());
    SlowCopies slow(*real);
    CopySeasonFiles(temp_.game(), slow, {not_copy_, dirs_, dirs2_, dir1_, file1_}, progress);
  }
  for (const auto& figure : progress.figures()) EXPECT_EQ(figure.second, 0u);
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/a.gdb"), std::string(1000, 'a'));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/lane.txt"), std::string(300, 'p'));
}

}  // namespace
}  // namespace velmora

#include "copier/copy_run.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

using testing::TempGame;
namespace fs = std::filesystem;

class CopyRunTest : public ::testing::Test {
 protected:
  void Run() {
    auto file_system = OpenFileSystem(temp_.game());
    CopySeasonFiles(temp_.game(), *file_system, {not_copy_, dirs_, dirs2_, dir1_, file1_});
  }
  // The folder pairs, source and target after each other.
  std::vector<std::string> Plan() {
    std::vector<std::string> plan;
    for (std::size_t j = 0; j < dirs_.ListCount(); ++j) {
      plan.emplace_back(dirs_.List(j));
      plan.emplace_back(dirs2_.List(j));
    }
    return plan;
  }
  // Names in a folder, hidden ones too.
  std::vector<std::string> Names(const char* relative) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp_.At(relative)))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempGame temp_;
  StringList not_copy_, dirs_, dirs2_;
  FolderListing dir1_{temp_.game()};
  FileListing file1_{temp_.game()};
};

TEST_F(CopyRunTest, CopiesWhatThePlanKeepsIntoExistingTargetFolders) {
  temp_.Write("season02/tracks/season.trk", "list");
  temp_.Write("season02/tracks/season.aiw", "line");
  temp_.Write("season02/tracks/Monaco/Monaco.gdb", "geometry");
  temp_.Write("season02/tracks/Monaco/monaco.mas", "archive");
  temp_.Write("season02/tracks/Monaco/monaco.mas.old", "backup");
  temp_.Write("season02/tracks/Monaco/MONACO.AIW", "line");
  temp_.Write("season02/tracks/Monaco/deeper/deep.gdb", "deep");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  Run();
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
  EXPECT_EQ(fs::status(copy).permissions(), fs::perms::owner_all | fs::perms::group_read);
}

TEST_F(CopyRunTest, NeverReplacesAFileAlreadyThereInAnyLetterCase) {
  temp_.Write("season02/tracks/Brazil/TRACK.GDB", "new");
  temp_.Write("season02/tracks/Brazil/same.cam", "new");
  temp_.Write("ZENTOSEASON/tracks/brazil/track.gdb", "old");
  temp_.Write("ZENTOSEASON/tracks/brazil/same.cam", "old");
  const auto old_time = fs::last_write_time(temp_.At("ZENTOSEASON/tracks/brazil/same.cam")) - std::chrono::hours(1);
  fs::last_write_time(temp_.At("ZENTOSEASON/tracks/brazil/same.cam"), old_time);
  Run();
  EXPECT_EQ(Names("ZENTOSEASON/tracks/brazil"), (std::vector<std::string>{"same.cam", "track.gdb"}));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/brazil/track.gdb"), "old");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/brazil/same.cam"), "old");
  EXPECT_EQ(fs::last_write_time(temp_.At("ZENTOSEASON/tracks/brazil/same.cam")), old_time);
}

TEST_F(CopyRunTest, AMissingTargetFolderCopiesNothingAndCreatesNothing) {
  temp_.Write("season02/tracks/Japan/Japan.gdb", "x");
  temp_.MakeFolder("ZENTOSEASON/tracks");
  Run();
  EXPECT_TRUE(Names("ZENTOSEASON/tracks").empty());
}

TEST_F(CopyRunTest, WithoutATrackFolderNothingIsCopiedAndThePlanHasOnePair) {
  temp_.Write("season02/readme.txt", "x");
  temp_.MakeFolder("ZENTOSEASON");
  Run();
  EXPECT_TRUE(Names("ZENTOSEASON").empty());
  EXPECT_EQ(dirs_.ListCount(), 1u);
  EXPECT_EQ(not_copy_.ListCount(), 54u);
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
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"),
            (std::vector<std::string>{".crew", "crews", "lane.aiw", "mine.txt", "order.pit"}));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/order.pit"), "order");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/crews/deep/garage.dat"), "deep");
  // The pits sub-folder also has a pair of its own: file by file, nothing
  // left out, then whole.
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/mine.txt"), "kept");
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

TEST_F(CopyRunTest, ALinkAtATargetNameIsNeverWrittenThrough) {
  TempGame outside;
  outside.Write("precious", "untouched");
  outside.Write("also", "untouched");
  temp_.Write("season02/tracks/Monaco/a.gdb", "new");
  temp_.Write("season02/tracks/pits/b.pit", "new");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp_.MakeFolder("ZENTOSEASON/tracks/Pits");
  fs::create_symlink(outside.At("precious"), temp_.At("ZENTOSEASON/tracks/Monaco/a.gdb"));
  fs::create_symlink(outside.At("also"), temp_.At("ZENTOSEASON/tracks/Pits/b.pit"));
  Run();
  EXPECT_EQ(outside.Read("precious"), "untouched");
  EXPECT_EQ(outside.Read("also"), "untouched");
  // The file loop leaves the link as it is; the pits copy replaces the link itself.
  EXPECT_TRUE(fs::is_symlink(temp_.At("ZENTOSEASON/tracks/Monaco/a.gdb")));
  EXPECT_FALSE(fs::is_symlink(temp_.At("ZENTOSEASON/tracks/Pits/b.pit")));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/b.pit"), "new");
}

TEST_F(CopyRunTest, ALinkInTheSourcePointingOutsideIsNotCopied) {
  TempGame outside;
  outside.Write("secret", "outside");
  temp_.MakeFolder("season02/tracks/pits");
  fs::create_symlink(outside.At("secret"), temp_.At("season02/tracks/secret"));
  fs::create_symlink(outside.At("secret"), temp_.At("season02/tracks/pits/secret"));
  temp_.MakeFolder("ZENTOSEASON/tracks/Pits");
  Run();
  EXPECT_FALSE(temp_.Exists("ZENTOSEASON/tracks/secret"));
  EXPECT_FALSE(temp_.Exists("ZENTOSEASON/tracks/Pits/secret"));
}

// Mounts a small tmpfs at `folder` while it lives; needs root.
class SmallDisk {
 public:
  explicit SmallDisk(const fs::path& folder) : folder_(folder) {
    fs::create_directories(folder);
    mounted_ = mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path folder_;
  bool mounted_;
};

TEST_F(CopyRunTest, AFullDiskLeavesNoPartialFileAndTheRunGoesOn) {
  temp_.Write("season02/tracks/Monaco/a_big.dat", std::string(200 * 1024, 'x'));
  temp_.Write("season02/tracks/Monaco/b_small.dat", "small");
  temp_.Write("season02/tracks/pits/c_big.dat", std::string(200 * 1024, 'y'));
  temp_.Write("season02/tracks/pits/d_small.dat", "small");
  SmallDisk monaco(temp_.At("ZENTOSEASON/tracks/Monaco"));
  SmallDisk pits(temp_.At("ZENTOSEASON/tracks/Pits"));
  if (!monaco.mounted() || !pits.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  Run();
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco"), std::vector<std::string>{"b_small.dat"});
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), std::vector<std::string>{"d_small.dat"});
}

TEST_F(CopyRunTest, ARunKilledMidFileLeavesNoPartialFileAndTheNextRunCompletesIt) {
  constexpr std::uintmax_t kSize = 768ull << 20;
  temp_.MakeFolder("season02/tracks/Monaco");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp_.Write("season02/tracks/Monaco/big.dat", "start");
  fs::resize_file(temp_.At("season02/tracks/Monaco/big.dat"), kSize);
  const fs::path target = temp_.At("ZENTOSEASON/tracks/Monaco");
  const pid_t child = fork();
  if (child == 0) {
    Run();
    _exit(0);
  }
  // Kill it as soon as its temporary file shows up.
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    for (const auto& entry : fs::directory_iterator(target)) seen |= entry.path().filename().string()[0] == '.';
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(seen);
  const fs::path final_name = target / "big.dat";
  // Either the copy had not finished, or it is whole: never partial.
  if (fs::exists(final_name)) {
    std::printf("the copy finished before the kill\n");
    EXPECT_EQ(fs::file_size(final_name), kSize);
  }
  Run();
  EXPECT_EQ(fs::file_size(final_name), kSize);
  // The killed run's temporary file is gone too.
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco"), std::vector<std::string>{"big.dat"});
  char start[5] = {};
  std::ifstream(final_name, std::ios::binary).read(start, 5);
  EXPECT_EQ(std::string(start, 5), "start");
}

}  // namespace
}  // namespace velmora

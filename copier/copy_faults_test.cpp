// Faults that only a POSIX system lets a test make for real: links, a full
// disk (a small tmpfs, when running as root) and a process killed mid-copy.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "copier/copy_run_fixture.h"
#include "platform/testing/small_disk.h"

namespace velmora {
namespace {

using testing::SmallDisk;
using testing::TempGame;
namespace fs = std::filesystem;

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

TEST_F(CopyRunTest, ATargetFolderThatIsALinkToOutsideIsNotWrittenInto) {
  TempGame outside;
  outside.MakeFolder("monaco");
  outside.MakeFolder("pits");
  temp_.Write("season02/tracks/Monaco/a.gdb", "x");
  temp_.Write("season02/tracks/pits/crews/b.pit", "x");
  temp_.MakeFolder("ZENTOSEASON/tracks");
  fs::create_directory_symlink(outside.At("monaco"), temp_.At("ZENTOSEASON/tracks/Monaco"));
  fs::create_directory_symlink(outside.At("pits"), temp_.At("ZENTOSEASON/tracks/Pits"));
  Run();
  EXPECT_TRUE(outside.Names("monaco").empty());
  EXPECT_TRUE(outside.Names("pits").empty());
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
  // Kill it as soon as it has a file open for writing in the target folder
  // (named or not: /proc shows where it lies).
  bool seen = false;
  const fs::path open_files = "/proc/" + std::to_string(child) + "/fd";
  for (int i = 0; i < 20000 && !seen; ++i) {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator(open_files, error))
      seen |= fs::read_symlink(fd.path(), error).string().rfind(target.string() + "/", 0) == 0;
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

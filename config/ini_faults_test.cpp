// Faults that only a POSIX system lets a test make for real: a link at the
// output's name, a write cut short by a file size limit, and a full disk
// (a small tmpfs, when running as root).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "config/create_config_fixture.h"
#include "platform/testing/small_disk.h"

namespace velmora {
namespace {

using testing::TempGame;
namespace fs = std::filesystem;

TEST_F(CreateConfigIniTest, ALinkAtQorvaneIniIsReplacedNotWrittenThrough) {
  TempGame outside;
  outside.Write("target", "untouched");
  temp_.Write("Config.ini", "x\r\n");
  fs::create_symlink(outside.At("target"), temp_.At("Qorvane.ini"));
  Run();
  EXPECT_EQ(outside.Read("target"), "untouched");
  EXPECT_FALSE(fs::is_symlink(temp_.At("Qorvane.ini")));
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "x\r\n");
}

TEST_F(CreateConfigIniTest, AWriteThatFailsPartWayLeavesTheOldFileByteForByte) {
  temp_.Write("Config.ini", std::string(100000, 'x') + "\r\nSAVEDIR=a\r\n");
  temp_.Write("Qorvane.ini", "old\r\n");
  // The child may write files of at most 4 KiB: the write fails half-way.
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    Run();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old\r\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"Config.ini", "Qorvane.ini"}));
}

TEST_F(CreateConfigIniTest, AFullDiskLeavesTheOldFileByteForByte) {
  const fs::path folder = temp_.At("game");
  const testing::SmallDisk disk(folder);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  const GameFolder game(folder.string());
  temp_.Write("game/Config.ini", std::string(40000, 'x') + "\r\n");
  temp_.Write("game/Qorvane.ini", "old\r\n");
  Run(game);
  EXPECT_EQ(temp_.Read("game/Qorvane.ini"), "old\r\n");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, 2u);
}

}  // namespace
}  // namespace velmora

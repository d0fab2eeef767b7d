// Faults that only a POSIX system lets a test make for real: a link at the
// output's name, a pipe or a device at the input's, a write cut short by a
// file size limit, a full disk (a small tmpfs), another user's file and a
// killed run's leftovers (the last three when running as root).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "config/create_config_fixture.h"
#include "platform/posix/calls.h"
#include "platform/testing/fat_disk.h"
#include "platform/testing/injected.h"
#include "platform/testing/small_disk.h"

namespace velmora {
namespace {

using testing::TempGame;
namespace fs = std::filesystem;

TEST(CreateConfigIniFatTest, OnAFileSystemWithoutPermissionBitsQorvaneIniIsWrittenAndReplaced) {
  TempGame temp;
  testing::FatDisk fat(temp.At("fat"));
  if (!fat.mounted()) GTEST_SKIP() << "needs fusefat and root";
  const GameFolder game(temp.At("fat").string());
  temp.Write("fat/Config.ini", "SaveDir=save\\\r\n");
  StringList new_ini;
  for (int run = 0; run < 2; ++run) {
    CreateConfigIni(*OpenFileSystem(game), new_ini);
    EXPECT_EQ(temp.Read("fat/Qorvane.ini"), "SAVEDIR=ZENTOSAVE\\\r\n") << "run " << run;
  }
}

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

TEST_F(CreateConfigIniTest, APipeOrADeviceAtConfigIniCountsAsMissingAndHoldsNothingUp) {
  temp_.Write("Qorvane.ini", "old\r\n");
  ASSERT_EQ(mkfifo(temp_.At("Config.ini").c_str(), 0600), 0);
  Run();  // would wait for a writer for ever if the pipe were opened to read
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old\r\n");
  fs::remove(temp_.At("Config.ini"));
  fs::create_symlink("/dev/zero", temp_.At("Config.ini"));
  Run();  // would read until memory runs out
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old\r\n");
  EXPECT_EQ(new_ini_.ListCount(), 0u);
}

// Runs the rewrite in a child process as the unprivileged user "nobody".
void RunAsNobody(const GameFolder& game) {
  const pid_t child = fork();
  if (child == 0) {
    StringList lines;
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    CreateConfigIni(*OpenFileSystem(game), lines);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "could not become nobody";
}

TEST_F(CreateConfigIniTest, AQorvaneIniThisUserMayNotWriteStaysUnchangedThoughItsOwnerMay) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  temp_.Write("Config.ini", "SAVEDIR=a\r\n");
  temp_.Write("Qorvane.ini", "old\r\n");
  // The folder is open to everyone; the file is root's, writable by root only.
  fs::permissions(temp_.root(), fs::perms::all);
  fs::permissions(temp_.At("Qorvane.ini"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  RunAsNobody(temp_.game());
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old\r\n");
  // Made writable for everyone, it is replaced.
  fs::permissions(temp_.At("Qorvane.ini"), fs::perms::all);
  RunAsNobody(temp_.game());
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "SAVEDIR=ZENTOSAVE\\\r\n");
}

TEST_F(CreateConfigIniTest, TemporariesNobodyHoldsAreSweptWhateverTheProcessIdTheyNameAndOnlyThey) {
  temp_.Write("Config.ini", "x\r\n");
  // Process ids repeat: one that no process has any more, and 1, which a run
  // in a PID namespace had, name leftovers all the same.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string stale = ".velmora-" + std::to_string(gone) + "-3.tmp";
  const std::string reused = ".velmora-1-0.tmp";
  const std::string running = ".velmora-" + std::to_string(getpid()) + "-9.tmp";
  temp_.Write(stale, "left by a killed run");
  temp_.Write(reused, "left by a killed run");
  temp_.Write(running, "still being written");
  temp_.Write(".velmora-notes.tmp", "not ours");
  // Another run, still writing, holds its temporary locked.
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    close(done[1]);
    const int fd = open(temp_.At(running).c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    char byte = fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 'y' : 'n';
    if (write(ready[1], &byte, 1) != 1 || read(done[0], &byte, 1) < 0) _exit(1);
    _exit(0);
  }
  char locked = 0;
  ASSERT_EQ(read(ready[0], &locked, 1), 1);
  ASSERT_EQ(locked, 'y');
  Run();
  close(done[1]);
  waitpid(writer, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0]}) close(fd);
  std::vector<std::string> kept = {".velmora-notes.tmp", running, "Config.ini", "Qorvane.ini"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(Names(), kept);
}

TEST_F(CreateConfigIniTest, ReadOnlyLeftoversOfAKilledRunAreSweptForTheUserWhoOwnsThem) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  temp_.Write("Config.ini", "x\r\n");
  // As a killed run leaves a pit file read-only from a CD: its owner's, 0444.
  const std::string left = ".velmora-77-1.tmp";
  temp_.Write(left, "left by a killed run");
  fs::permissions(temp_.root(), fs::perms::all);
  for (const char* name : {"Config.ini", left.c_str()})
    ASSERT_EQ(chown(temp_.At(name).c_str(), 65534, 65534), 0);
  fs::permissions(temp_.At(left), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  RunAsNobody(temp_.game());
  EXPECT_EQ(Names(), (std::vector<std::string>{"Config.ini", "Qorvane.ini"}));
}

// What Qorvane.ini holds when written from `config`.
std::string Rewritten(const std::string& config) {
  StringList lines;
  AddRewrittenLines(config, lines);
  return JoinLines(lines);
}

// Saves `text` over the open file in place, as some editors do: cut to
// nothing, then written.
void SaveInPlace(int fd, const std::string& text) {
  const int writable = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY);
  EXPECT_EQ(ftruncate(writable, 0), 0);
  EXPECT_EQ(pwrite(writable, text.data(), text.size(), 0), ssize_t(text.size()));
  close(writable);
}

TEST_F(CreateConfigIniTest, AConfigIniSavedWhileReadIsReadAgainAndNeverTakenHalfOrMixed) {
  std::string one = "SeasonDir=one\r\n", two = "SeasonDir=two\r\n";
  for (int i = 0; one.size() < (2 << 20); ++i) {
    one += "First" + std::to_string(i) + "=a\r\n";
    two += "Second" + std::to_string(i) + "=b\r\n";
  }
  temp_.Write("Config.ini", one);
  temp_.Write("Qorvane.ini", "old\r\n");
  testing::Injected injected(CurrentPosixFileCalls());
  // Saved again during every read: nothing is taken, the old file stays.
  int saves = 0;
  injected.calls().part_read = [&](int fd) { SaveInPlace(fd, ++saves % 2 ? two : one); };
  Run();
  EXPECT_EQ(saves, 2) << "read once more, then given up";
  EXPECT_EQ(temp_.Read("Qorvane.ini"), "old\r\n");
  // Saved during the first read only: the second read takes the new version whole.
  saves = 0;
  injected.calls().part_read = [&](int fd) {
    if (saves++ == 0) SaveInPlace(fd, two);
  };
  Run();
  EXPECT_EQ(temp_.Read("Qorvane.ini"), Rewritten(two));
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

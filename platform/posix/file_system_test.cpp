// Faults that only a POSIX system lets a test make for real: links, a full
// disk (a small tmpfs, when running as root) and a process killed mid-copy.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "config/ini_rewriter.h"
#include "copier/copy_progress.h"
#include "copier/copy_run_fixture.h"
#include "platform/posix/calls.h"
#include "platform/posix/durable_batch.h"
#include "platform/posix/process_limits.h"
#include "platform/posix/shared_extents.h"
#include "platform/posix/unique_fd.h"
#include "platform/testing/counting_disk.h"
#include "platform/testing/fat_disk.h"
#include "platform/testing/held_flush.h"
#include "platform/testing/injected.h"
#include "platform/testing/refused_threads.h"
#include "platform/testing/small_disk.h"
#include "platform/testing/xfs_disk.h"

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
  EXPECT_EQ(Failures(Run()), std::vector<std::string>{Failed("ZENTOSEASON/tracks/Monaco/a.gdb", Cause::kNameTaken)});
  EXPECT_EQ(outside.Read("precious"), "untouched");
  EXPECT_EQ(outside.Read("also"), "untouched");
  // The file loop leaves the link as it is; the pits copy replaces the link itself.
  EXPECT_TRUE(fs::is_symlink(temp_.At("ZENTOSEASON/tracks/Monaco/a.gdb")));
  EXPECT_FALSE(fs::is_symlink(temp_.At("ZENTOSEASON/tracks/Pits/b.pit")));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/b.pit"), "new");
}

// A source folder that vanishes between its listing and its copy copies
// nothing: never a file of the same name from the folder read before.
TEST_F(CopyRunTest, ASourceFolderThatVanishesAfterItsListingCopiesNothingAndNeverTheFolderBeforesFile) {
  temp_.Write("season02/tracks/A/z.gdb", "A's z");
  temp_.Write("season02/tracks/B/y.gdb", "B's y");
  temp_.Write("season02/tracks/B/z.gdb", "B's z");
  temp_.MakeFolder("ZENTOSEASON/tracks/A");
  temp_.MakeFolder("ZENTOSEASON/tracks/B");
  auto file_system = OpenFileSystem(temp_.game());
  ASSERT_TRUE(file_system->List({"season02", "tracks", "B"}));
  EXPECT_TRUE(file_system->CopyFile({"season02", "tracks", "A", "z.gdb"}, {"ZENTOSEASON", "tracks", "A"}, Replace::kNo));
  fs::remove_all(temp_.At("season02/tracks/B"));
  EXPECT_EQ(file_system->CopyFile({"season02", "tracks", "B", "y.gdb"}, {"ZENTOSEASON", "tracks", "B"}, Replace::kNo)
                .cause,
            Cause::kVanished);
  EXPECT_EQ(file_system->CopyFile({"season02", "tracks", "B", "z.gdb"}, {"ZENTOSEASON", "tracks", "B"}, Replace::kNo)
                .cause,
            Cause::kVanished);
  file_system.reset();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/A/z.gdb"), "A's z");
  EXPECT_TRUE(Names("ZENTOSEASON/tracks/B").empty()) << "another folder's file was copied";
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
  EXPECT_EQ(Failures(Run()), (std::vector<std::string>{Failed("ZENTOSEASON/tracks/Monaco/a.gdb", Cause::kLinked),
                                                        Failed("ZENTOSEASON/tracks/Pits/crews/b.pit", Cause::kLinked)}));
  EXPECT_TRUE(outside.Names("monaco").empty());
  EXPECT_TRUE(outside.Names("pits").empty());
}

// Puts a link to `outside` where `folder` was; the folder itself moves aside.
void SwapForLink(const fs::path& folder, const fs::path& outside) {
  fs::rename(folder, fs::path(folder).concat(".moved"));
  fs::create_directory_symlink(outside, folder);
}

TEST_F(CopyRunTest, AFolderSwappedForALinkAfterItWasOpenedGetsTheWritesNotTheLink) {
  TempGame outside;
  outside.MakeFolder("monaco");
  outside.MakeFolder("pits");
  temp_.Write("season02/tracks/Monaco/a.gdb", "a");
  temp_.Write("season02/tracks/Monaco/b.gdb", "b");
  temp_.Write("season02/tracks/pits/c.pit", "c");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp_.MakeFolder("ZENTOSEASON/tracks/Pits");
  testing::Injected injected(CurrentPosixFileCalls());
  // Right after the copy opens a target folder, and before it writes there.
  injected.calls().folder_opened = [&](const std::string& folder) {
    const std::string name = fs::path(folder).filename();
    if (name == "Monaco") SwapForLink(folder, outside.At("monaco"));
    if (name == "Pits") SwapForLink(folder, outside.At("pits"));
  };
  Run();
  EXPECT_TRUE(outside.Names("monaco").empty());
  EXPECT_TRUE(outside.Names("pits").empty());
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco.moved"), (std::vector<std::string>{"a.gdb", "b.gdb"}));
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits.moved"), std::vector<std::string>{"c.pit"});
}

TEST_F(CopyRunTest, FoldersSwappedForLinksAgainAndAgainDuringACopyGetNothingOutside) {
  TempGame outside;
  outside.MakeFolder("monaco");
  const std::string content(16 << 10, 'x');
  for (int i = 0; i < 3000; ++i) temp_.Write("season02/tracks/Monaco/part" + std::to_string(i), content);
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  const fs::path monaco = temp_.At("ZENTOSEASON/tracks/Monaco");
  const fs::path aside = temp_.At("ZENTOSEASON/tracks/Monaco.real");
  std::atomic<bool> copying = true;
  std::atomic<int> swaps = 0;
  std::thread swapper([&] {
    std::error_code error;
    while (copying) {
      fs::rename(monaco, aside, error);
      fs::create_directory_symlink(outside.At("monaco"), monaco, error);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      fs::remove(monaco, error);
      fs::rename(aside, monaco, error);
      ++swaps;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  // Several runs: each opens the folder anew, whichever it finds there.
  for (int run = 0; run < 3; ++run) Run();
  copying = false;
  swapper.join();
  EXPECT_GT(swaps, 0);
  EXPECT_TRUE(outside.Names("monaco").empty()) << outside.Names("monaco").size() << " files landed outside";
}

// At each flush: how many of the given files hold `content`.
class FlushWatch {
 public:
  FlushWatch(PosixFileCalls& calls, std::vector<fs::path> files, std::string content)
      : files_(std::move(files)), content_(std::move(content)) {
    calls.sync_file_system = [this](int fd) {
      seen_.push_back(Count());
      return syncfs(fd);
    };
  }
  int Count() const {
    int count = 0;
    for (const fs::path& file : files_) count += testing::ReadWhole(file) == content_;
    return count;
  }
  const std::vector<int>& seen() const { return seen_; }

 private:
  std::vector<fs::path> files_;
  std::string content_;
  std::vector<int> seen_;
};

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

// Of every copy into one folder: when its data was written, and the names
// the folder showed as each flush began, on one clock.
class NamingWatch {
 public:
  NamingWatch(PosixFileCalls& calls, fs::path folder) : folder_(std::move(folder)) {
    calls.data_copied = [this](int source) {
      char path[4096] = {};
      const std::string link = "/proc/self/fd/" + std::to_string(source);
      EXPECT_GT(readlink(link.c_str(), path, sizeof path - 1), 0);
      std::lock_guard lock(mutex_);
      written_at_[fs::path(path).filename()] = ++clock_;
    };
    calls.sync_file_system = [this](int fd) {
      std::vector<std::string> named = NamesIn(folder_);
      std::lock_guard lock(mutex_);
      flushes_.push_back({++clock_, std::move(named)});
      return syncfs(fd);
    };
  }

  // Every name the folder shows now came after a flush that began once its
  // data was written: one that began before the flush it was first seen at,
  // or any flush when it was first seen at the end.
  void ExpectEachNamedOnlyAfterAFlushThatCoversIt() {
    std::lock_guard lock(mutex_);
    for (const std::string& name : NamesIn(folder_)) {
      ASSERT_TRUE(written_at_.count(name)) << name << " was never written";
      const int written = written_at_[name];
      std::size_t first_seen = 0;
      while (first_seen < flushes_.size() && !Contains(flushes_[first_seen].named, name)) ++first_seen;
      bool covered = false;
      for (std::size_t j = 0; j < first_seen; ++j) covered |= flushes_[j].began > written;
      EXPECT_TRUE(covered) << name << " was named before a flush that covers it";
    }
  }

 private:
  struct Flush {
    int began;
    std::vector<std::string> named;
  };
  static bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  }

  fs::path folder_;
  std::mutex mutex_;
  int clock_ = 0;
  std::map<std::string, int> written_at_;
  std::vector<Flush> flushes_;
};

TEST_F(CopyRunTest, ACopyIsNamedOnlyAfterAFlushThatBeganOnceItsDataWasWritten) {
  const int files = int(DurableBatch::kCapacity) * 2 + 44;
  for (int i = 0; i < files; ++i) temp_.Write("season02/tracks/Monaco/part" + std::to_string(1000 + i), "new");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  testing::Injected injected(CurrentPosixFileCalls());
  NamingWatch watch(injected.calls(), temp_.At("ZENTOSEASON/tracks/Monaco"));
  Run();
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco").size(), std::size_t(files));
  watch.ExpectEachNamedOnlyAfterAFlushThatCoversIt();
}

TEST_F(CopyRunTest, TheBarCountsBytesAsTheyAreWrittenAndShowsTheWholeOnlyOnceTheLastCopyHasItsName) {
  constexpr std::uint64_t kFile = 4 << 20;
  for (int i = 0; i < 16; ++i)
    temp_.Write("season02/tracks/Monaco/big" + std::to_string(i) + ".dat", std::string(kFile, char('a' + i)));
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  testing::Injected injected(CurrentPosixFileCalls());
  testing::HeldFlush held(injected.calls());
  RecordedProgress progress;
  std::thread run([&] {
    auto file_system = OpenFileSystem(temp_.game());
    CopySeasonFiles(temp_.game(), *file_system, {not_copy_, dirs_, dirs2_, dir1_, file1_}, progress);
  });
  // Every byte written, none named: half way, and no further while the flush is held.
  const auto half_way = [&] {
    const auto figures = progress.figures();
    return !figures.empty() && figures.back().first >= 8 * kFile;
  };
  for (int i = 0; i < 1000 && !half_way(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto held_figures = progress.figures();
  held.Release();
  run.join();
  ASSERT_TRUE(half_way()) << "the written bytes were not told";
  for (const auto& [done, total] : held_figures) {
    if (total == 0) continue;  // before the plan was summed
    EXPECT_EQ(total, 16 * kFile);
    EXPECT_LT(done, total) << "the whole told before a copy had its name";
  }
  EXPECT_EQ(progress.figures().back(), std::make_pair(16 * kFile, 16 * kFile));
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco").size(), 16u);
}

TEST_F(CopyRunTest, WhenItsHelperOrFlushThreadsCannotStartTheRunCopiesAndNamesEveryFileItself) {
  const int files = int(DurableBatch::kCapacity) + 300;
  for (int i = 0; i < files; ++i) temp_.Write("season02/tracks/Monaco/part" + std::to_string(i), "new");
  temp_.Write("season02/tracks/pits/ORDER.PIT", "new");
  for (const std::set<std::string>& refused :
       {std::set<std::string>{"copy-helper"}, {"flush"}, {"copy-helper", "flush"}}) {
    fs::remove_all(temp_.At("ZENTOSEASON"));
    temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
    temp_.Write("ZENTOSEASON/tracks/Pits/ORDER.PIT", "old");
    const std::size_t open_before = OpenDescriptors();
    {
      testing::RefusedThreads threads(refused);
      Run();
    }
    const std::string which = *refused.begin() + (refused.size() > 1 ? " and flush" : "");
    const std::vector<std::string> names = Names("ZENTOSEASON/tracks/Monaco");
    EXPECT_EQ(names.size(), std::size_t(files)) << which << " refused";
    for (const std::string& name : names) EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/" + name), "new") << name;
    EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), std::vector<std::string>{"ORDER.PIT"}) << which << " refused";
    EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new");
    EXPECT_EQ(OpenDescriptors(), open_before);
  }
}

TEST_F(CopyRunTest, APitsFileIsReplacedOnlyAfterItsNewDataIsFlushed) {
  std::vector<fs::path> targets;
  for (const char* name : {"ORDER.PIT", "crews/crew1.scr", "crews/deep/garage.dat"}) {
    temp_.Write(std::string("season02/tracks/pits/") + name, "new");
    temp_.Write(std::string("ZENTOSEASON/tracks/Pits/") + name, "old");
    targets.push_back(temp_.At(std::string("ZENTOSEASON/tracks/Pits/") + name));
  }
  testing::Injected injected(CurrentPosixFileCalls());
  FlushWatch watch(injected.calls(), targets, "new");
  Run();
  EXPECT_EQ(watch.seen(), std::vector<int>{0});
  EXPECT_EQ(watch.Count(), 3);
}

// Waits until a change made now gets a later change time than `file` has.
void WaitForTheClockToPass(const fs::path& file) {
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  const auto nanoseconds = [](const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
  for (timespec now{}; clock_gettime(CLOCK_REALTIME_COARSE, &now), nanoseconds(now) <= nanoseconds(st.st_ctim);)
    std::this_thread::yield();
}

// Gives a file other bytes of the same size, at its old modification time.
void RewriteKeepingSizeAndTime(const fs::path& file, const std::string& bytes) {
  const auto time = fs::last_write_time(file);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  fs::last_write_time(file, time);
}

// A repeat trusts the record of the pits copies found exact before, but a
// pits file changed since, its copy or its source, is copied again all the
// same, even at the same size and time.
TEST_F(CopyRunTest, ARecordedExactPitsCopyIsCopiedAgainOnceItOrItsSourceChanged) {
  TempGame cache;
  const char* const had = std::getenv("XDG_CACHE_HOME");
  const std::string saved = had ? had : "";
  setenv("XDG_CACHE_HOME", cache.root().c_str(), 1);
  testing::Injected injected(CurrentPosixFileCalls());
  // As if the command came long after the files were made.
  injected.calls().record_clock = [] {
    timespec later;
    clock_gettime(CLOCK_REALTIME, &later);
    later.tv_sec += 10;
    return later;
  };
  const std::vector<std::string> names{"kept.dat", "copy changed.dat", "source changed.dat"};
  for (const std::string& name : names) temp_.Write("season02/tracks/pits/" + name, "bytes one");
  temp_.MakeFolder("ZENTOSEASON/tracks");
  Run();
  Run();
  EXPECT_EQ(cache.Names("velmora").size(), 1u) << "the exact copies are recorded";
  for (const std::string& name : names) WaitForTheClockToPass(temp_.At("ZENTOSEASON/tracks/Pits/" + name));
  RewriteKeepingSizeAndTime(temp_.At("ZENTOSEASON/tracks/Pits/copy changed.dat"), "bytes two");
  RewriteKeepingSizeAndTime(temp_.At("season02/tracks/pits/source changed.dat"), "bytes two");
  EXPECT_TRUE(Run().failures.empty());
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/kept.dat"), "bytes one");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/copy changed.dat"), "bytes one");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/source changed.dat"), "bytes two");
  had ? (void)setenv("XDG_CACHE_HOME", saved.c_str(), 1) : (void)unsetenv("XDG_CACHE_HOME");
}

// A track file to copy, and a pit file to copy over an old one.
void WriteATrackAndAPitFile(const TempGame& temp) {
  temp.Write("season02/tracks/Monaco/a.gdb", "new");
  temp.Write("season02/tracks/pits/ORDER.PIT", "new");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp.Write("ZENTOSEASON/tracks/Pits/ORDER.PIT", "old");
}

TEST_F(CopyRunTest, WhenTheFlushFailsNoCopyGetsItsNameAndNoTemporaryIsLeft) {
  WriteATrackAndAPitFile(temp_);
  testing::Injected injected(CurrentPosixFileCalls());
  injected.calls().sync_file_system = [](int) {
    errno = EIO;
    return -1;
  };
  const CopyOutcome outcome = Run();
  EXPECT_EQ(outcome.copied, 0u);
  EXPECT_EQ(Failures(outcome), (std::vector<std::string>{Failed("ZENTOSEASON/tracks/Monaco/a.gdb", Cause::kDiskError),
                                                         Failed("ZENTOSEASON/tracks/Pits/ORDER.PIT", Cause::kDiskError)}));
  EXPECT_TRUE(Names("ZENTOSEASON/tracks/Monaco").empty());
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), std::vector<std::string>{"ORDER.PIT"});
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "old");
}

TEST_F(CopyRunTest, AnExceptionOnAHelperOrTheFlushThreadFailsTheCopiesItHeldToldAndLeavesNothing) {
  WriteATrackAndAPitFile(temp_);
  {
    testing::Injected injected(CurrentPosixFileCalls());
    injected.calls().data_copied = [](int) { throw std::runtime_error("injected"); };
    const CopyOutcome outcome = Run();
    EXPECT_EQ(outcome.copied, 0u);
    EXPECT_EQ(Failures(outcome), (std::vector<std::string>{Failed("ZENTOSEASON/tracks/Monaco/a.gdb", Cause::kOther),
                                                           Failed("ZENTOSEASON/tracks/Pits/ORDER.PIT", Cause::kOther)}));
  }
  {
    testing::Injected injected(CurrentPosixFileCalls());
    injected.calls().sync_file_system = [](int) -> int { throw std::runtime_error("injected"); };
    const CopyOutcome outcome = Run();
    EXPECT_EQ(outcome.copied, 0u);
    EXPECT_EQ(outcome.failures.size(), 2u);
  }
  EXPECT_TRUE(Names("ZENTOSEASON/tracks/Monaco").empty());
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), std::vector<std::string>{"ORDER.PIT"}) << "no temporary left";
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "old");
  Run();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/a.gdb"), "new") << "the next run copies them";
}

TEST_F(CopyRunTest, ASecondRunsSweepBetweenACopysCloseAndItsNameLeavesTheCopyToBeNamed) {
  WriteATrackAndAPitFile(temp_);
  testing::Injected injected(CurrentPosixFileCalls());
  std::atomic<int> sweeps = 0;
  injected.calls().naming = [&](const std::string&) {
    // Another run writes into the same folder, sweeping its leftovers first.
    if (sweeps++ == 0) OpenFileSystem(temp_.game())->WriteFile({"ZENTOSEASON", "tracks", "Pits", "second.txt"}, "x");
  };
  const CopyOutcome outcome = Run();
  EXPECT_EQ(sweeps, 1);
  EXPECT_TRUE(outcome.failures.empty()) << Failures(outcome).front();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new");
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), (std::vector<std::string>{"ORDER.PIT", "second.txt"}));
}

TEST_F(CopyRunTest, ASecondRunsSweepBetweenATemporarysCreationAndItsLockCostsTheCopyNothing) {
  WriteATrackAndAPitFile(temp_);
  testing::Injected injected(CurrentPosixFileCalls());
  std::atomic<int> made = 0, sweeps = 0;
  injected.calls().temporary_made = [&](int, const std::string&) {
    // The first temporary, not locked yet: another run sweeps its folder.
    if (made++ == 0 && sweeps++ == 0)
      OpenFileSystem(temp_.game())->WriteFile({"ZENTOSEASON", "tracks", "Pits", "second.txt"}, "x");
  };
  const CopyOutcome outcome = Run();
  EXPECT_EQ(sweeps, 1);
  EXPECT_GE(made, 3) << "the swept temporary, the second run's, and the copy's next";
  EXPECT_TRUE(outcome.failures.empty()) << Failures(outcome).front();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new");
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), (std::vector<std::string>{"ORDER.PIT", "second.txt"}));
}

// Changes a source right after its data was copied, through a handle of its own.
void ChangeSourcesOnCopy(PosixFileCalls& calls, std::function<void(int)> change) {
  calls.data_copied = [change](int source) {
    const int writable = open(("/proc/self/fd/" + std::to_string(source)).c_str(), O_WRONLY);
    change(writable);
    close(writable);
  };
}

TEST_F(CopyRunTest, ASourceWrittenToOrCutWhileCopiedIsNotNamedAndTheNextRunCopiesIt) {
  for (const char* name : {"Monaco/a.gdb", "Monaco/b.gdb", "pits/ORDER.PIT"})
    temp_.Write(std::string("season02/tracks/") + name, std::string(100000, name[7]));
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp_.Write("ZENTOSEASON/tracks/Pits/ORDER.PIT", "old");
  for (auto change : {+[](int fd) { EXPECT_EQ(pwrite(fd, "new", 3, 0), 3); },
                      +[](int fd) { EXPECT_EQ(ftruncate(fd, 50000), 0); }}) {
    testing::Injected injected(CurrentPosixFileCalls());
    ChangeSourcesOnCopy(injected.calls(), change);
    const CopyOutcome outcome = Run();
    EXPECT_EQ(outcome.copied, 0u);
    EXPECT_EQ(outcome.failures.size(), 3u);
    for (const Failure& failure : outcome.failures) EXPECT_EQ(failure.cause, Cause::kChanged);
    EXPECT_TRUE(Names("ZENTOSEASON/tracks/Monaco").empty());
    EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "old");
    EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), std::vector<std::string>{"ORDER.PIT"});
  }
  EXPECT_TRUE(Run().failures.empty());
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/a.gdb"), "new" + std::string(49997, 'a'));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/b.gdb"), "new" + std::string(49997, 'b'));
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new" + std::string(49997, 'D'));
}

TEST_F(CopyRunTest, OfManyCopiesWrittenOnSeveralThreadsOnlyThoseWhoseSourceChangedAreLeftOut) {
  constexpr int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) temp_.Write("season02/tracks/Monaco/part" + std::to_string(i), "old");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  std::mutex mutex;
  std::set<std::thread::id> threads;
  testing::Injected injected(CurrentPosixFileCalls());
  // Every tenth source is written to while it is copied.
  ChangeSourcesOnCopy(injected.calls(), [&](int fd) {
    std::lock_guard lock(mutex);
    threads.insert(std::this_thread::get_id());
    char name[64] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (readlink(link.c_str(), name, sizeof name - 1) > 0 && std::string(name).back() == '0') {
      EXPECT_EQ(pwrite(fd, "new", 3, 0), 3);
    }
  });
  const CopyOutcome outcome = Run();
  EXPECT_EQ(outcome.copied, std::size_t(kFiles - kFiles / 10));
  EXPECT_EQ(outcome.failures.size(), std::size_t(kFiles / 10));
  const std::vector<std::string> copied = Names("ZENTOSEASON/tracks/Monaco");
  EXPECT_EQ(copied.size(), std::size_t(kFiles - kFiles / 10)) << "temporaries left, or copies lost";
  for (const std::string& name : copied) {
    EXPECT_NE(name.back(), '0') << name;
    EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Monaco/" + name), "old") << name;
  }
  if (std::thread::hardware_concurrency() > 1) {
    EXPECT_GT(threads.size(), 1u) << "all written on one thread";
  }
}

TEST_F(CopyRunTest, AFileWithHolesIsCopiedWithItsHoles) {
  const fs::path source = temp_.At("season02/tracks/pits/sparse.dat");
  temp_.Write("season02/tracks/pits/sparse.dat", "start");
  fs::resize_file(source, std::uintmax_t(1) << 30);
  temp_.MakeFolder("ZENTOSEASON/tracks/Pits");
  Run();
  const fs::path copy = temp_.At("ZENTOSEASON/tracks/Pits/sparse.dat");
  struct stat st;
  ASSERT_EQ(stat(copy.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, off_t(1) << 30);
  EXPECT_LT(st.st_blocks * 512, 1 << 20) << "the holes were written out";
  std::ifstream in(copy);
  std::string start(5, '\0');
  in.read(start.data(), 5);
  EXPECT_EQ(start, "start");
}

TEST(CopyRunFatTest, OnAFileSystemWithoutModesLinksOrUnnamedFilesEverythingIsCopied) {
  TempGame temp;
  testing::FatDisk fat(temp.At("fat"));
  if (!fat.mounted()) GTEST_SKIP() << "needs fusefat and root";
  temp.Write("fat/season02/tracks/Monaco/a.gdb", "track");
  temp.Write("fat/season02/tracks/pits/crews/b.pit", "pit");
  temp.MakeFolder("fat/ZENTOSEASON/tracks/Monaco");
  const GameFolder game(temp.At("fat").string());
  StringList not_copy, dirs, dirs2;
  FolderListing dir1(game);
  FileListing file1(game);
  for (int run = 0; run < 2; ++run)
    CopySeasonFiles(game, *OpenFileSystem(game), {not_copy, dirs, dirs2, dir1, file1});
  EXPECT_EQ(temp.Read("fat/ZENTOSEASON/tracks/Monaco/a.gdb"), "track");
  EXPECT_EQ(temp.Read("fat/ZENTOSEASON/tracks/Pits/crews/b.pit"), "pit");
  EXPECT_EQ(temp.Names("fat/ZENTOSEASON/tracks/Monaco"), std::vector<std::string>{"a.gdb"});
}

// A game folder on a disk read through FUSE: the track files, a pits file
// to replace, and one already copied.
void MakeGameOnDisk(const TempGame& temp, const std::string& disk) {
  for (int i = 0; i < 100; ++i) temp.Write(disk + "/season02/tracks/Monaco/part" + std::to_string(i), "new");
  temp.Write(disk + "/season02/tracks/pits/ORDER.PIT", "new");
  temp.Write(disk + "/ZENTOSEASON/tracks/Pits/ORDER.PIT", "old");
  temp.MakeFolder(disk + "/ZENTOSEASON/tracks/Monaco");
}

void CopyOnto(const GameFolder& game) {
  StringList not_copy, dirs, dirs2;
  FolderListing dir1(game);
  FileListing file1(game);
  CopySeasonFiles(game, *OpenFileSystem(game), {not_copy, dirs, dirs2, dir1, file1});
}

TEST(CopyRunFuseTest, OnAFuseDiskEachCopyIsFlushedBeforeItsNameLeavesNoHiddenNameAndAReplacementFlushesItsFolder) {
  TempGame temp;
  // As ntfs-3g: a rename that must not replace is refused, so copies are
  // named by a plain rename once their name is found free.
  testing::CountingDisk disk(temp.At("backing"), temp.At("disk"), temp.At("driver.log"), false,
                             /*refuse_rename_flags=*/true);
  if (!disk.mounted()) GTEST_SKIP() << "needs FUSE and root";
  MakeGameOnDisk(temp, "disk");
  CopyOnto(GameFolder(temp.At("disk").string()));
  EXPECT_EQ(temp.Names("disk/ZENTOSEASON/tracks/Monaco").size(), 100u);
  EXPECT_EQ(temp.Read("disk/ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new");
  // Every new name the driver was given went to a file it had flushed. A
  // file replaced is flushed in its folder before anything else is named:
  // without a journal (exfat-fuse), the old file's freed clusters could
  // otherwise hold the next copy's bytes while the folder still names them.
  std::set<std::string> flushed;
  int named = 0;
  std::string replaced_in;  // the folder of a replacing rename just made
  for (const std::string& line : disk.Log()) {
    if (!replaced_in.empty() && line == "fsyncdir " + replaced_in) replaced_in.clear();
    std::istringstream words(line);
    std::string what, from, to;
    words >> what >> from >> to;
    if (what == "fsync") flushed.insert(from);
    // FUSE hides a file unlinked while open under a second name, which a
    // power cut would leave for good: each copy is closed before its
    // temporary's name goes.
    EXPECT_EQ(to.find(".fuse_hidden"), std::string::npos) << from << " was unlinked while still open";
    if (to.find(".fuse_hidden") != std::string::npos) continue;
    if (what == "rename" || what == "link") {
      ++named;
      EXPECT_TRUE(flushed.count(from)) << to << " named before its data reached the driver's disk";
      EXPECT_TRUE(replaced_in.empty()) << to << " named after a replacement, before its folder's flush";
    }
    if (what == "rename" && to == "/ZENTOSEASON/tracks/Pits/ORDER.PIT") replaced_in = "/ZENTOSEASON/tracks/Pits";
  }
  EXPECT_TRUE(replaced_in.empty()) << "the folder of the last replacement was never flushed";
  EXPECT_EQ(named, 101);
}

TEST(CopyRunXfsTest, OnADiskThatClonesEachCloneIsNamedAtOnceWithoutWaitingForAFlush) {
  TempGame temp;
  testing::XfsDisk disk(temp.At("xfs"));
  if (!disk.mounted()) GTEST_SKIP() << "needs mkfs.xfs and root";
  MakeGameOnDisk(temp, "xfs");
  testing::Injected injected(CurrentPosixFileCalls());
  int flushes = 0;
  injected.calls().sync_file_system = [&](int fd) {
    ++flushes;
    return syncfs(fd);
  };
  CopyOnto(GameFolder(temp.At("xfs").string()));
  EXPECT_EQ(flushes, 0) << "a clone is the source's blocks, on the disk already";
  EXPECT_EQ(NamesIn(temp.At("xfs/ZENTOSEASON/tracks/Monaco")).size(), 100u) << "each named, no temporary left";
  EXPECT_EQ(temp.Read("xfs/ZENTOSEASON/tracks/Monaco/part7"), "new");
  EXPECT_EQ(temp.Read("xfs/ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new");
  const UniqueFd source(open(temp.At("xfs/season02/tracks/Monaco/part7").c_str(), O_RDONLY));
  const UniqueFd copy(open(temp.At("xfs/ZENTOSEASON/tracks/Monaco/part7").c_str(), O_RDONLY));
  EXPECT_TRUE(SharesAllExtents(source.get(), copy.get()));
}

TEST(CopyRunFuseTest, OnADiskReadThroughFuseAFlushThatFailsNamesNothingAndLeavesNothing) {
  TempGame temp;
  testing::CountingDisk disk(temp.At("backing"), temp.At("disk"), temp.At("driver.log"), true);
  if (!disk.mounted()) GTEST_SKIP() << "needs FUSE and root";
  MakeGameOnDisk(temp, "disk");
  CopyOnto(GameFolder(temp.At("disk").string()));
  EXPECT_TRUE(temp.Names("disk/ZENTOSEASON/tracks/Monaco").empty());
  EXPECT_EQ(temp.Names("disk/ZENTOSEASON/tracks/Pits"), std::vector<std::string>{"ORDER.PIT"});
  EXPECT_EQ(temp.Read("disk/ZENTOSEASON/tracks/Pits/ORDER.PIT"), "old");
  int failed = 0;
  for (const std::string& line : disk.Log()) failed += line.rfind("fsync-failed ", 0) == 0;
  EXPECT_EQ(failed, 101);
}

TEST(CopyRunFuseTest, ASecondRunsSweepBetweenACopysCloseAndItsNameOnAFuseDiskLeavesTheCopyToBeNamed) {
  TempGame temp;
  testing::CountingDisk disk(temp.At("backing"), temp.At("disk"), temp.At("driver.log"), false,
                             /*refuse_rename_flags=*/true);
  if (!disk.mounted()) GTEST_SKIP() << "needs FUSE and root";
  MakeGameOnDisk(temp, "disk");
  const GameFolder game(temp.At("disk").string());
  testing::Injected injected(CurrentPosixFileCalls());
  std::atomic<int> sweeps = 0;
  injected.calls().naming = [&](const std::string&) {
    if (sweeps++ == 0) OpenFileSystem(game)->WriteFile({"ZENTOSEASON", "tracks", "Monaco", "second.txt"}, "x");
  };
  StringList not_copy, dirs, dirs2;
  FolderListing dir1(game);
  FileListing file1(game);
  const CopyOutcome outcome = CopySeasonFiles(game, *OpenFileSystem(game), {not_copy, dirs, dirs2, dir1, file1});
  EXPECT_TRUE(outcome.failures.empty());
  EXPECT_EQ(temp.Names("disk/ZENTOSEASON/tracks/Monaco").size(), 101u) << "every copy, and the second run's file";
  for (const std::string& line : disk.Log()) EXPECT_EQ(line.find(".fuse_hidden"), std::string::npos) << line;
}

TEST(CopyRunFuseTest, AReplacementWhoseFolderFlushFailsIsInPlaceAndTold) {
  TempGame temp;
  testing::CountingDisk disk(temp.At("backing"), temp.At("disk"), temp.At("driver.log"), false, false,
                             /*fail_fsyncdir=*/true);
  if (!disk.mounted()) GTEST_SKIP() << "needs FUSE and root";
  MakeGameOnDisk(temp, "disk");
  const GameFolder game(temp.At("disk").string());
  StringList not_copy, dirs, dirs2;
  FolderListing dir1(game);
  FileListing file1(game);
  const CopyOutcome outcome = CopySeasonFiles(game, *OpenFileSystem(game), {not_copy, dirs, dirs2, dir1, file1});
  EXPECT_EQ(temp.Read("disk/ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new");
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].path, (GamePath{"ZENTOSEASON", "tracks", "Pits", "ORDER.PIT"}));
  EXPECT_EQ(outcome.failures[0].cause, Cause::kNotFlushed);
  EXPECT_EQ(outcome.copied, 101u) << "the replacement is in place: copied, though the disk did not confirm it";

  temp.Write("disk/Config.ini", "SEASONDIR=x\r\n");
  temp.Write("disk/Qorvane.ini", "old\r\n");
  StringList new_ini;
  const IniOutcome written = CreateConfigIni(*OpenFileSystem(game), new_ini);
  EXPECT_EQ(written.cause, Cause::kNotFlushed);
  EXPECT_EQ(temp.Read("disk/Qorvane.ini"), "SEASONDIR=ZENTOSEASON\\\r\n");
}

// Makes a folder and those above it below the current folder, by a short
// path: the current folder's own path may be too long to name.
void MakeHere(const std::string& relative) {
  for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
    mkdir(relative.substr(0, slash).c_str(), 0777);
  mkdir(relative.c_str(), 0777);
}

// Writes a file below the current folder, making its folders.
void WriteHere(const std::string& relative, const std::string& content) {
  if (const std::size_t slash = relative.rfind('/'); slash != std::string::npos) MakeHere(relative.substr(0, slash));
  std::ofstream(relative, std::ios::binary) << content;
}

std::string ReadHere(const std::string& relative) { return testing::ReadWhole(relative); }

// Enters `names` below the current folder one after the other, making them.
void EnterMaking(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    mkdir(name.c_str(), 0777);
    ASSERT_EQ(chdir(name.c_str()), 0);
  }
}

TEST(CopyRunLongPathTest, AGameFolderWhosePathIsLongerThanPathMaxIsCopiedAndConfiguredLikeAnyOther) {
  TempGame temp;
  const int start = open(".", O_RDONLY | O_DIRECTORY);
  // Twenty folders of 250-byte names: a game folder path of over 5,000 bytes.
  std::vector<std::string> down;
  std::string root = temp.root().string();
  for (int i = 0; i < 20; ++i) {
    down.push_back(std::string(250, char('a' + i)));
    root += "/" + down.back();
  }
  ASSERT_GT(root.size(), std::size_t(PATH_MAX));
  const std::string circuit(250, 'C'), crew(250, 'p');
  ASSERT_EQ(chdir(temp.root().c_str()), 0);
  EnterMaking(down);
  WriteHere("season02/tracks/Monaco/a.gdb", "near");
  WriteHere("season02/tracks/" + circuit + "/b.gdb", "deep");
  WriteHere("season02/tracks/pits/" + crew + "/c.pit", "pit");
  MakeHere("ZENTOSEASON/tracks/Monaco");
  MakeHere("ZENTOSEASON/tracks/" + circuit);
  MakeHere("ZENTOSEASON/tracks/Pits");
  WriteHere("Config.ini", "SaveDir=save\\\r\n");
  ASSERT_EQ(fchdir(start), 0);

  const GameFolder game(root);
  CopyOnto(game);
  StringList lines;
  CreateConfigIni(*OpenFileSystem(game), lines);

  ASSERT_EQ(chdir(temp.root().c_str()), 0);
  EnterMaking(down);
  EXPECT_EQ(ReadHere("ZENTOSEASON/tracks/Monaco/a.gdb"), "near");
  EXPECT_EQ(ReadHere("ZENTOSEASON/tracks/" + circuit + "/b.gdb"), "deep");
  EXPECT_EQ(ReadHere("ZENTOSEASON/tracks/Pits/" + crew + "/c.pit"), "pit");
  EXPECT_EQ(ReadHere("Qorvane.ini"), "SAVEDIR=ZENTOSAVE\\\r\n");
  ASSERT_EQ(fchdir(start), 0);
  close(start);
  // Removed here: the test's own clean-up takes paths whole.
  EXPECT_EQ(std::system(("rm -rf '" + (temp.root() / down.front()).string() + "'").c_str()), 0);
}

// Sets the soft limit on open files for as long as it lives.
class OpenFileLimit {
 public:
  explicit OpenFileLimit(rlim_t soft) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  }
  ~OpenFileLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

TEST_F(CopyRunTest, UnderALowOpenFileLimitEveryFileAndTheWholeDeepPitsTreeIsCopied) {
  constexpr int kFiles = 1000, kPitsFolders = 300;
  for (int i = 0; i < kFiles; ++i) temp_.Write("season02/tracks/Monaco/part" + std::to_string(i), "x");
  // Thirty chains of ten folders, each folder with a file of its own.
  for (int i = 0; i < kPitsFolders; ++i) {
    std::string folder = "season02/tracks/pits/crew" + std::to_string(i / 10);
    for (int depth = 0; depth < i % 10; ++depth) folder += "/level" + std::to_string(depth);
    temp_.Write(folder + "/pit.dat", "x");
  }
  for (rlim_t limit : {32, 64, 256}) {
    fs::remove_all(temp_.At("ZENTOSEASON"));
    temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
    {
      OpenFileLimit lowered(limit);
      Run();
    }
    EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco").size(), std::size_t(kFiles)) << "limit " << limit;
    int pits = 0;
    for (const auto& entry : fs::recursive_directory_iterator(temp_.At("ZENTOSEASON/tracks/Pits")))
      pits += entry.is_regular_file();
    EXPECT_EQ(pits, kPitsFolders) << "limit " << limit;
  }
}

TEST_F(CopyRunTest, WhileTheFlushIsHeldTheRunWaitsWithNoMoreFilesOpenThanItsBounds) {
  constexpr int kFiles = 3000;
  constexpr rlim_t kLimit = 2048;
  for (int i = 0; i < kFiles; ++i) temp_.Write("season02/tracks/Monaco/part" + std::to_string(i), "x");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  OpenFileLimit lowered(kLimit);
  const std::size_t open_before = OpenDescriptors();
  // What the run may hold open: the copies waiting for the flush, the
  // sources of those not yet written (an eighth of the free descriptors at
  // most), and a few folders.
  const std::size_t free = kLimit - (open_before + 8);
  const std::size_t bound = DurableBatch::LimitsFor(free / 2).MostOpen() + free / 8 + 8;
  testing::Injected injected(CurrentPosixFileCalls());
  testing::HeldFlush held(injected.calls());
  std::atomic<bool> finished = false;
  std::thread run([&] {
    Run();
    finished = true;
  });
  // Watched until the open files stop growing: the run is waiting then.
  std::size_t most = 0;
  for (int i = 0, steady = 0; i < 10000 && steady < 100; ++i) {
    const std::size_t open = OpenDescriptors();
    steady = open > most ? 0 : steady + 1;
    most = std::max(most, open);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(finished);
  EXPECT_LE(most, open_before + bound);
  EXPECT_TRUE(Names("ZENTOSEASON/tracks/Monaco").empty()) << "named before the flush";
  held.Release();
  run.join();
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco").size(), std::size_t(kFiles));
  EXPECT_EQ(OpenDescriptors(), open_before);
}

TEST_F(CopyRunTest, LinkedCircuitAndPitsFoldersAreReadAsFoldersAndALinkBackEndsTheWalk) {
  TempGame other_disk;
  other_disk.Write("Brazil/Brazil.gdb", "far");
  other_disk.Write("crews/crew1.scr", "far");
  temp_.MakeFolder("season02/tracks/pits");
  fs::create_directory_symlink(other_disk.At("Brazil"), temp_.At("season02/tracks/Brazil"));
  fs::create_directory_symlink(other_disk.At("crews"), temp_.At("season02/tracks/pits/crews"));
  fs::create_directory_symlink(temp_.At("season02/tracks"), temp_.At("season02/tracks/pits/back"));
  fs::create_directory_symlink(temp_.At("season02/tracks/pits"), temp_.At("season02/tracks/pits/crews2"));
  temp_.MakeFolder("ZENTOSEASON/tracks/Brazil");
  temp_.MakeFolder("ZENTOSEASON/tracks/Pits");
  Run();
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Brazil/Brazil.gdb"), "far");
  EXPECT_EQ(temp_.Read("ZENTOSEASON/tracks/Pits/crews/crew1.scr"), "far");
  EXPECT_FALSE(fs::is_symlink(temp_.At("ZENTOSEASON/tracks/Pits/crews")));
  EXPECT_FALSE(temp_.Exists("ZENTOSEASON/tracks/Pits/back"));
  EXPECT_FALSE(temp_.Exists("ZENTOSEASON/tracks/Pits/crews2"));
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
  const CopyOutcome outcome = Run();
  EXPECT_EQ(outcome.copied, 2u);
  EXPECT_EQ(Failures(outcome), (std::vector<std::string>{Failed("ZENTOSEASON/tracks/Monaco/a_big.dat", Cause::kDiskFull),
                                                         Failed("ZENTOSEASON/tracks/Pits/c_big.dat", Cause::kDiskFull)}));
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Monaco"), std::vector<std::string>{"b_small.dat"});
  EXPECT_EQ(Names("ZENTOSEASON/tracks/Pits"), std::vector<std::string>{"d_small.dat"});
}

// velmora.exe, killed under Wine, leaves the hidden folders it writes its
// copies in: they are swept as its files are, unless a process holds them
// or anything in them, and never through a link of that name.
TEST_F(CopyRunTest, TheTemporariesFoldersOfAKilledVelmoraExeAreSweptButNotOneHeldOrALinkedOne) {
  temp_.Write("season02/tracks/season.trk", "list");
  temp_.Write("ZENTOSEASON/tracks/.velmora-32-0.tmp/.velmora-32-7.tmp", "left");
  temp_.Write("ZENTOSEASON/tracks/.velmora-33-0.tmp/.velmora-33-1.tmp", "being written");
  TempGame outside;
  outside.Write("precious/.velmora-1-1.tmp", "not ours to sweep");
  fs::create_directory_symlink(outside.At("precious"), temp_.At("ZENTOSEASON/tracks/.velmora-34-0.tmp"));
  // Held as Wine holds a file velmora.exe writes: by a descriptor.
  const UniqueFd writing(open(temp_.At("ZENTOSEASON/tracks/.velmora-33-0.tmp/.velmora-33-1.tmp").c_str(), O_RDONLY));
  ASSERT_TRUE(writing);
  EXPECT_TRUE(Run().failures.empty());
  EXPECT_EQ(Names("ZENTOSEASON/tracks"),
            (std::vector<std::string>{".velmora-33-0.tmp", ".velmora-34-0.tmp", "season.trk"}));
  EXPECT_EQ(outside.Read("precious/.velmora-1-1.tmp"), "not ours to sweep");
}

TEST_F(CopyRunTest, ARunKilledWithACopyWrittenButNotNamedLeavesNothingAndTheNextRunCompletesIt) {
  constexpr std::uintmax_t kSize = 768ull << 20;
  temp_.MakeFolder("season02/tracks/Monaco");
  temp_.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp_.Write("season02/tracks/Monaco/big.dat", "start");
  fs::resize_file(temp_.At("season02/tracks/Monaco/big.dat"), kSize);
  const fs::path target = temp_.At("ZENTOSEASON/tracks/Monaco");
  const pid_t child = fork();
  if (child == 0) {
    // The copy stops once its data is written, before it is named; the
    // kill comes while it stands there, however fast the copy was.
    CurrentPosixFileCalls().data_copied = [](int) {
      for (;;) pause();
    };
    Run();
    _exit(0);
  }
  // Kill it once it has a file open for writing in the target folder
  // (named or not: /proc shows where it lies).
  bool seen = false;
  const fs::path open_files = "/proc/" + std::to_string(child) + "/fd";
  for (int i = 0; i < 100000 && !seen; ++i) {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator(open_files, error))
      seen |= fs::read_symlink(fd.path(), error).string().rfind(target.string() + "/", 0) == 0;
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(seen);
  const fs::path final_name = target / "big.dat";
  EXPECT_FALSE(fs::exists(final_name)) << "named before it was flushed";
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

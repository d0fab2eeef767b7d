#include "platform/posix/known_copies.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/unique_fd.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

timespec Now(int seconds_on = 0) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  now.tv_sec += seconds_on;
  return now;
}

// A source and its copy, open, with their statuses.
struct Pair {
  explicit Pair(const testing::TempGame& temp) {
    temp.Write("source", "the same bytes");
    temp.Write("copy", "the same bytes");
    source = UniqueFd(open(temp.At("source").c_str(), O_RDONLY));
    copy = UniqueFd(open(temp.At("copy").c_str(), O_RDONLY));
    fstat(source.get(), &source_status);
    fstat(copy.get(), &copy_status);
  }
  UniqueFd source, copy;
  struct stat source_status, copy_status;
};

bool CacheKeepsChangeTimes(const testing::TempGame& temp) {
  KnownCopies probe(temp.At("cache"), "/game", "boot one", Now(10));
  Pair pair(temp);
  probe.Confirm(pair.source.get(), pair.source_status, pair.copy.get(), pair.copy_status);
  probe.Save();
  return fs::exists(temp.At("cache/velmora"));
}

TEST(KnownCopiesTest, ACopyConfirmedIsVouchedForByALaterCommandOnlyAsItWasThenForItsGameUntilARestart) {
  testing::TempGame temp;
  if (!CacheKeepsChangeTimes(temp)) GTEST_SKIP() << "the temporary folder's disk keeps no trustworthy change times";
  Pair pair(temp);
  {
    KnownCopies first(temp.At("cache"), "/game", "boot one", Now(10));
    first.Confirm(pair.source.get(), pair.source_status, pair.copy.get(), pair.copy_status);
    first.Save();
  }
  KnownCopies later(temp.At("cache"), "/game", "boot one", Now(10));
  EXPECT_TRUE(later.Vouches(pair.source_status, pair.copy_status));
  for (auto changed : {&timespec::tv_sec, &timespec::tv_nsec}) {
    struct stat copy = pair.copy_status, source = pair.source_status;
    ++(copy.st_ctim.*changed);
    ++(source.st_mtim.*changed);
    EXPECT_FALSE(later.Vouches(pair.source_status, copy));
    EXPECT_FALSE(later.Vouches(source, pair.copy_status));
  }
  struct stat other_source = pair.source_status;
  ++other_source.st_ino;
  EXPECT_FALSE(later.Vouches(other_source, pair.copy_status));
  EXPECT_FALSE(KnownCopies(temp.At("cache"), "/other game", "boot one", Now(10)).Vouches(pair.source_status, pair.copy_status));
  EXPECT_FALSE(KnownCopies("", "/game", "boot one", Now(10)).Vouches(pair.source_status, pair.copy_status));
  // After a restart, bytes written in place before a power cut may lie
  // under the old change time.
  EXPECT_FALSE(KnownCopies(temp.At("cache"), "/game", "boot two", Now(10)).Vouches(pair.source_status, pair.copy_status));
}

TEST(KnownCopiesTest, FilesChangedInTheLastTwoSecondsBeforeACommandAreNotRecorded) {
  testing::TempGame temp;
  if (!CacheKeepsChangeTimes(temp)) GTEST_SKIP() << "the temporary folder's disk keeps no trustworthy change times";
  fs::remove_all(temp.At("cache"));
  Pair pair(temp);
  {
    KnownCopies now(temp.At("cache"), "/game", "boot one", Now());
    now.Confirm(pair.source.get(), pair.source_status, pair.copy.get(), pair.copy_status);
    now.Save();
  }
  EXPECT_FALSE(KnownCopies(temp.At("cache"), "/game", "boot one", Now(10)).Vouches(pair.source_status, pair.copy_status));
}

TEST(KnownCopiesTest, ARecordCutShortOrChangedIsNotTrusted) {
  testing::TempGame temp;
  if (!CacheKeepsChangeTimes(temp)) GTEST_SKIP() << "the temporary folder's disk keeps no trustworthy change times";
  Pair pair(temp);
  const auto record = [&] {
    for (const auto& entry : fs::directory_iterator(temp.At("cache/velmora"))) return entry.path();
    return fs::path();
  };
  for (const bool cut : {true, false}) {
    {
      KnownCopies first(temp.At("cache"), "/game", "boot one", Now(10));
      first.Confirm(pair.source.get(), pair.source_status, pair.copy.get(), pair.copy_status);
      first.Save();
    }
    const fs::path file = record();
    if (cut) {
      fs::resize_file(file, fs::file_size(file) - 1);
    } else {
      std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
      bytes.seekp(80);
      bytes.put('\x7f');
    }
    EXPECT_FALSE(KnownCopies(temp.At("cache"), "/game", "boot one", Now(10)).Vouches(pair.source_status, pair.copy_status))
        << (cut ? "cut short" : "changed");
    fs::remove(file);
  }
}

}  // namespace
}  // namespace velmora

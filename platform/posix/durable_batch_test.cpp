#include "platform/posix/durable_batch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/posix/calls.h"
#include "platform/posix/process_limits.h"
#include "platform/posix/unique_fd.h"
#include "platform/testing/held_flush.h"
#include "platform/testing/injected.h"
#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Complete copies without a name in a temporary folder, as the copier
// hands them to the batch.
class UnnamedCopies {
 public:
  UnnamedCopies() : folder_(std::make_shared<const UniqueFd>(open(temp_.root().c_str(), O_RDONLY | O_DIRECTORY))) {
    EXPECT_EQ(fstat(folder_->get(), &status_), 0);
  }
  DurableBatch::Copy Make(int i, const std::string& data) {
    UniqueFd file(openat(folder_->get(), ".", O_TMPFILE | O_WRONLY, 0600));
    EXPECT_TRUE(file);
    EXPECT_EQ(write(file.get(), data.data(), data.size()), ssize_t(data.size()));
    return {std::move(file), folder_, status_.st_dev, "", "copy" + std::to_string(i), Replace::kNo};
  }
  std::vector<std::string> Names() { return temp_.Names(); }

 private:
  testing::TempGame temp_;
  std::shared_ptr<const UniqueFd> folder_;
  struct stat status_ {};
};

// With the flush held, `adders` threads add copies until the batch stops
// them: one batch in the flush, `queued` waiting, one filling, and the copy
// that fills the last one waits for room. None is named before the flush;
// all are named after it, and every file is closed.
void ExpectAddersHeldWithinTheBound(DurableBatch::Limits limits, int adders, int files_each) {
  UnnamedCopies copies;
  testing::Injected injected(CurrentPosixFileCalls());
  testing::HeldFlush held(injected.calls());
  const std::size_t open_before = OpenDescriptors();
  std::atomic<int> added = 0;
  {
    DurableBatch batch(limits);
    std::vector<std::thread> threads;
    for (int t = 0; t < adders; ++t)
      threads.emplace_back([&, t] {
        for (int i = 0; i < files_each; ++i) {
          batch.Add(copies.Make(t * files_each + i, "x"));
          ++added;
        }
      });
    const int most = int(limits.MostOpen()) - 1;
    for (int i = 0; i < 1000 && added < most; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(added, most);
    // The bound, and the copy each other thread has made and waits to add.
    EXPECT_LE(OpenDescriptors(), open_before + limits.MostOpen() + (adders - 1));
    EXPECT_TRUE(copies.Names().empty()) << "named before the flush";
    held.Release();
    for (std::thread& thread : threads) thread.join();
  }
  EXPECT_EQ(copies.Names().size(), std::size_t(adders * files_each));
  EXPECT_EQ(OpenDescriptors(), open_before);
}

TEST(DurableBatchTest, WhileTheFlushIsHeldTheCopierWaitsWithNoMoreFilesOpenThanTheBound) {
  ExpectAddersHeldWithinTheBound({8, 2}, 1, 100);
}

TEST(DurableBatchTest, TwoThreadsAddingWithTheFlushHeldBothWaitWithinTheBoundAndAllIsNamedAfter) {
  ExpectAddersHeldWithinTheBound({8, 1}, 2, 60);
}

TEST(DurableBatchTest, ABatchGoesToTheFlushOnceItHoldsItsBytesHoweverFewItsFiles) {
  UnnamedCopies copies;
  testing::Injected injected(CurrentPosixFileCalls());
  std::vector<std::size_t> named_at_flush;
  injected.calls().sync_file_system = [&](int fd) {
    named_at_flush.push_back(copies.Names().size());
    return syncfs(fd);
  };
  {
    DurableBatch batch({100, 0, 1000});  // one batch flushed at a time
    const std::string data(300, 'x');
    for (int i = 0; i < 10; ++i) batch.Add(copies.Make(i, data), data.size());
  }
  // 1,200 bytes fill a batch: two full ones, then the rest at the end.
  EXPECT_EQ(named_at_flush, (std::vector<std::size_t>{0, 4, 8}));
  EXPECT_EQ(copies.Names().size(), 10u);
}

TEST(DurableBatchTest, LimitsKeepTheOpenCopiesWithinTheDescriptorsGiven) {
  for (std::size_t descriptors : {1, 10, 24, 100, 1000, 20000, 1000000}) {
    const DurableBatch::Limits limits = DurableBatch::LimitsFor(descriptors);
    EXPECT_GE(limits.batch, 1u);
    EXPECT_LE(limits.batch, DurableBatch::kCapacity);
    if (descriptors >= 12) {
      EXPECT_LE(2 * limits.MostOpen(), descriptors) << descriptors;
    }
  }
  EXPECT_EQ(DurableBatch::LimitsFor(1000000).batch, DurableBatch::kCapacity);
}

}  // namespace
}  // namespace velmora

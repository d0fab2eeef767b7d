#include "platform/work_sharing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/testing/refused_threads.h"

namespace velmora {
namespace {

// Counts the jobs that exist, as a job holding an open file would.
std::atomic<int> live_jobs = 0;
struct Token {
  Token() { ++live_jobs; }
  ~Token() { --live_jobs; }
};
struct Job {
  int id;
  std::unique_ptr<Token> token = std::make_unique<Token>();
};

TEST(WorkSharingTest, WithTheHelpersHeldThePosterRunsJobsItselfAndNoMoreThanTheBoundExist) {
  const std::thread::id poster = std::this_thread::get_id();
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  std::vector<int> runs(1000);
  std::atomic<int> most_live = 0;
  {
    WorkSharing<Job> sharing("copy-helper", 2, [&](Job& job) {
      if (std::this_thread::get_id() != poster) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
      }
      std::lock_guard lock(mutex);
      ++runs[job.id];
      most_live = std::max(most_live.load(), live_jobs.load());
    });
    for (int id = 0; id < 1000; ++id) {
      sharing.Post({id});
      most_live = std::max(most_live.load(), live_jobs.load());
    }
    // The poster was never held up by the helpers it is waiting for.
    EXPECT_LE(most_live, int(sharing.MostHeld()));
    {
      std::lock_guard lock(mutex);
      release = true;
    }
    released.notify_all();
    sharing.Drain();
    EXPECT_EQ(live_jobs, 0);
  }
  for (int id = 0; id < 1000; ++id) EXPECT_EQ(runs[id], 1) << "job " << id;
}

TEST(WorkSharingTest, WhenNoHelperCanStartThePosterRunsEveryJobOnce) {
  testing::RefusedThreads refused({"copy-helper"});
  const std::thread::id poster = std::this_thread::get_id();
  std::vector<int> runs(100);
  {
    WorkSharing<Job> sharing("copy-helper", 3, [&](Job& job) {
      EXPECT_EQ(std::this_thread::get_id(), poster);
      ++runs[job.id];
    });
    for (int id = 0; id < 100; ++id) sharing.Post({id});
  }
  for (int id = 0; id < 100; ++id) EXPECT_EQ(runs[id], 1) << "job " << id;
  EXPECT_EQ(live_jobs, 0);
}

TEST(WorkSharingTest, WithoutHelpersEachJobRunsAsItIsPosted) {
  int ran = 0;
  WorkSharing<Job> sharing("copy-helper", 0, [&](Job&) { ++ran; });
  for (int id = 0; id < 40; ++id) {
    sharing.Post({id});
    EXPECT_EQ(ran, id + 1);
  }
}

TEST(WorkSharingTest, AJobThatThrowsOnAnyThreadIsHandedToFailedAndTheOthersStillRun) {
  for (const std::size_t helpers : {std::size_t(0), std::size_t(2)}) {
    std::mutex mutex;
    std::vector<int> ran, failed;
    {
      WorkSharing<Job> sharing(
          "copy-helper", helpers,
          [&](Job& job) {
            if (job.id % 7 == 0) throw std::runtime_error("injected");
            std::lock_guard lock(mutex);
            ran.push_back(job.id);
          },
          [&](Job& job) {
            std::lock_guard lock(mutex);
            failed.push_back(job.id);
          });
      for (int id = 1; id <= 100; ++id) sharing.Post({id});
    }
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(ran.size(), 86u) << helpers << " helpers";
    EXPECT_EQ(failed, (std::vector<int>{7, 14, 21, 28, 35, 42, 49, 56, 63, 70, 77, 84, 91, 98}));
  }
}

TEST(WorkSharingTest, AJobWhoseFailureCannotEvenBeRecordedIsCountedNotLost) {
  for (const std::size_t helpers : {std::size_t(0), std::size_t(2)}) {
    std::atomic<int> ran{0};
    WorkSharing<Job> sharing(
        "copy-helper", helpers,
        [&](Job& job) {
          if (job.id % 10 == 0) throw std::runtime_error("injected");
          ++ran;
        },
        [](Job&) { throw std::bad_alloc(); });  // the record itself fails
    for (int id = 1; id <= 100; ++id) sharing.Post({id});
    sharing.Drain();
    EXPECT_EQ(ran.load(), 90) << helpers << " helpers";
    EXPECT_EQ(sharing.Unrecorded(), 10u) << helpers << " helpers";
  }
}

}  // namespace
}  // namespace velmora

#pragma once

// Jobs run by helper threads beside the thread that posts them. Jobs travel
// in chunks, so that the threads meet once per chunk, not once per job; when
// the helpers fall behind, or none can be started, the posting thread runs a
// chunk itself instead of waiting. So at most MostHeld() jobs exist at once:
// the chunk being filled, those waiting, and one chunk in the hands of each
// helper.
#include <atomic>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "platform/thread_queue.h"

namespace velmora {

template <typename Job>
class WorkSharing {
 public:
  static constexpr std::size_t kChunk = 16;
  static constexpr std::size_t kWaiting = 2;

  // Without helpers every job runs in Post. The helpers' threads are named
  // `thread_name` (as a debugger or `top -H` shows them). A job whose run
  // throws, on whichever thread, is handed to `failed`; one that `failed`
  // cannot take either (it threw too, or there is none) is counted in
  // Unrecorded(), never lost without a trace.
  WorkSharing(const char* thread_name, std::size_t helpers, std::function<void(Job&)> run,
              std::function<void(Job&)> failed = nullptr)
      : helpers_(helpers),
        run_(std::move(run)),
        failed_(std::move(failed)),
        chunks_(thread_name, helpers, kWaiting + helpers, ThreadQueue<std::vector<Job>>::Take::kOne,
                [this](std::vector<std::vector<Job>>& chunks) {
                  for (std::vector<Job>& chunk : chunks) RunAll(chunk);
                }) {}
  ~WorkSharing() { Drain(); }
  WorkSharing(const WorkSharing&) = delete;
  WorkSharing& operator=(const WorkSharing&) = delete;

  static constexpr std::size_t MostHeldWith(std::size_t helpers) {
    return helpers == 0 ? 1 : (kWaiting + helpers + 1) * kChunk;
  }
  std::size_t MostHeld() const { return MostHeldWith(helpers_); }

  void Post(Job job) {
    if (helpers_ == 0) {
      RunOne(job);
      return;
    }
    filling_.push_back(std::move(job));
    if (filling_.size() < kChunk) return;
    std::vector<Job> chunk = std::exchange(filling_, {});
    filling_.reserve(kChunk);
    if (!chunks_.Hand(chunk, ThreadQueue<std::vector<Job>>::WhenFull::kGiveBack)) RunAll(chunk);
  }

  // How many jobs failed in a way not even `failed` could take.
  std::size_t Unrecorded() const { return unrecorded_.load(); }

  // Runs a job on this thread at once, beside those posted.
  void RunHere(Job job) { RunOne(job); }

  // Returns once every job posted has run; the chunks still waiting are run
  // here rather than waited for.
  void Drain() {
    RunAll(filling_);
    filling_.clear();
    std::vector<Job> chunk;
    while (chunks_.TakeBack(chunk)) {
      RunAll(chunk);
      chunk.clear();
    }
    chunks_.WaitIdle();
  }

 private:
  void RunAll(std::vector<Job>& chunk) {
    for (Job& job : chunk) RunOne(job);
  }
  void RunOne(Job& job) {
    try {
      run_(job);
    } catch (...) {
      try {
        if (!failed_) throw;
        failed_(job);
      } catch (...) {
        unrecorded_.fetch_add(1);
      }
    }
  }

  const std::size_t helpers_;
  const std::function<void(Job&)> run_;
  const std::function<void(Job&)> failed_;
  std::atomic<std::size_t> unrecorded_{0};
  std::vector<Job> filling_;  // only the posting thread touches it
  ThreadQueue<std::vector<Job>> chunks_;  // last: its helpers stop before the rest goes
};

}  // namespace velmora

#pragma once

// Jobs run by helper threads beside the thread that posts them. Jobs travel
// in chunks, so that the threads meet once per chunk, not once per job; when
// the helpers fall behind, the posting thread runs a chunk itself instead of
// waiting. So at most MostHeld() jobs exist at once: the chunk being filled,
// those waiting, and one chunk in the hands of each helper.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace velmora {

template <typename Job>
class WorkSharing {
 public:
  static constexpr std::size_t kChunk = 16;
  static constexpr std::size_t kWaiting = 2;

  // Without helpers every job runs in Post.
  WorkSharing(std::size_t helpers, std::function<void(Job&)> run) : helpers_(helpers), run_(std::move(run)) {}
  ~WorkSharing() {
    Drain();
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& helper : threads_) helper.join();
  }
  WorkSharing(const WorkSharing&) = delete;
  WorkSharing& operator=(const WorkSharing&) = delete;

  static constexpr std::size_t MostHeldWith(std::size_t helpers) {
    return helpers == 0 ? 1 : (kWaiting + helpers + 1) * kChunk;
  }
  std::size_t MostHeld() const { return MostHeldWith(helpers_); }

  void Post(Job job) {
    if (helpers_ == 0) {
      run_(job);
      return;
    }
    filling_.push_back(std::move(job));
    if (filling_.size() < kChunk) return;
    std::vector<Job> chunk = std::exchange(filling_, {});
    filling_.reserve(kChunk);
    {
      std::lock_guard lock(mutex_);
      if (waiting_.size() < kWaiting) {
        waiting_.push_back(std::move(chunk));
        if (threads_.size() < helpers_) threads_.emplace_back(&WorkSharing::HelperLoop, this);
        changed_.notify_one();
        return;
      }
    }
    RunAll(chunk);
  }

  // Returns once every job posted has run.
  void Drain() {
    RunAll(filling_);
    filling_.clear();
    std::unique_lock lock(mutex_);
    while (!waiting_.empty()) {
      std::vector<Job> chunk = std::move(waiting_.front());
      waiting_.pop_front();
      lock.unlock();
      RunAll(chunk);
      lock.lock();
    }
    changed_.wait(lock, [this] { return busy_ == 0; });
  }

 private:
  void RunAll(std::vector<Job>& chunk) {
    for (Job& job : chunk) run_(job);
  }

  void HelperLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      std::vector<Job> chunk = std::move(waiting_.front());
      waiting_.pop_front();
      ++busy_;
      lock.unlock();
      RunAll(chunk);
      chunk.clear();  // the jobs' resources go before the next chunk is taken
      lock.lock();
      if (--busy_ == 0) changed_.notify_all();
    }
  }

  const std::size_t helpers_;
  const std::function<void(Job&)> run_;
  std::vector<Job> filling_;  // only the posting thread touches it
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<Job>> waiting_;
  std::size_t busy_ = 0;  // helpers running a chunk
  bool stopping_ = false;
  std::vector<std::thread> threads_;  // started as chunks arrive
};

}  // namespace velmora

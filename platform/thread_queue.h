#pragma once

// Items handed to threads of their own, which serve them while the thread
// that handed them over goes on. Bounded: at most a given number of items
// wait or are being served at once. Threads start as items arrive; when
// none runs and none can be started, the item is given back and whoever
// handed it over serves it itself, so that no item is ever lost.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/threads.h"

namespace velmora {

template <typename Item>
class ThreadQueue {
 public:
  enum class Take { kOne, kAll };
  enum class WhenFull { kWait, kGiveBack };
  using Serve = std::function<void(std::vector<Item>& items)>;

  // Up to `threads` threads called `name` serve the items, each taking one
  // item at a time or, with Take::kAll, every item waiting at once.
  ThreadQueue(const char* name, std::size_t threads, std::size_t most_pending, Take take, Serve serve)
      : name_(name), most_threads_(threads), most_pending_(most_pending), take_(take), serve_(std::move(serve)) {}
  // Returns once every item handed over is served.
  ~ThreadQueue() {
    WaitIdle();
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // Hands `item` over. False, with `item` left with the caller to serve,
  // when no thread runs and none can be started, or when the queue is full
  // and `when_full` says to give it back; with WhenFull::kWait a full queue
  // is waited on.
  bool Hand(Item& item, WhenFull when_full) {
    std::unique_lock lock(mutex_);
    if (threads_.size() < most_threads_) {
      std::thread started = StartThread(name_, [this] { Loop(); });
      if (started.joinable()) threads_.push_back(std::move(started));
    }
    if (threads_.empty()) return false;
    if (when_full == WhenFull::kGiveBack && pending_ >= most_pending_) return false;
    changed_.wait(lock, [this] { return pending_ < most_pending_; });
    waiting_.push_back(std::move(item));
    ++pending_;
    changed_.notify_all();
    return true;
  }

  // Takes back an item still waiting, for the caller to serve itself.
  bool TakeBack(Item& item) {
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) return false;
    item = std::move(waiting_.front());
    waiting_.pop_front();
    --pending_;
    changed_.notify_all();
    return true;
  }

  // Returns once every item handed over is served.
  void WaitIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void Loop() {
    std::vector<Item> taken;
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      do {
        taken.push_back(std::move(waiting_.front()));
        waiting_.pop_front();
      } while (take_ == Take::kAll && !waiting_.empty());
      lock.unlock();
      try {
        serve_(taken);
      } catch (...) {
        // An item that fails this way is passed over like any failed one.
      }
      const std::size_t served = taken.size();
      taken.clear();  // what the items hold goes before the next are taken
      lock.lock();
      pending_ -= served;
      changed_.notify_all();
    }
  }

  const char* const name_;
  const std::size_t most_threads_;
  const std::size_t most_pending_;
  const Take take_;
  const Serve serve_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> waiting_;
  std::size_t pending_ = 0;  // waiting or being served
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace velmora

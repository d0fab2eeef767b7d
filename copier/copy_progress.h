#pragma once

// How far a copy has come, in bytes, told about ten times a second from a
// thread of its own, so that the bar follows the disk even while the copy
// waits for a large file or a flush.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "copier/copy_run.h"

namespace velmora {

class CopyProgress {
 public:
  static constexpr std::chrono::milliseconds kSumAfter{500};
  static constexpr std::chrono::milliseconds kBetweenFigures{100};

  // Starts telling `progress` about the copy of `plan` into the file system
  // whose `counters` count the bytes written and named (may be null). The
  // amount stays unknown until the plan's files have been summed, which
  // begins once the copy has lasted kSumAfter, so that a short copy never
  // pays for it.
  CopyProgress(const GameFolder& game, const PlanLists& plan, const CopyCounters* counters, Progress& progress);
  // Stops telling.
  ~CopyProgress();
  CopyProgress(const CopyProgress&) = delete;
  CopyProgress& operator=(const CopyProgress&) = delete;

  // A file that was there already, passed by the copy: valued at the plan's
  // average file size, so that a repeated run, which passes nearly every
  // file, asks the disk nothing for its progress.
  void AlreadyThere() { already_files_.fetch_add(1, std::memory_order_relaxed); }
  // Every copy has its name: tells the whole, and stops telling.
  void Finish();

  // Done of `total`: files already there, and each copy half as its bytes
  // are written, half once it is named; short of the whole until the end.
  static std::uint64_t Done(std::uint64_t already, std::uint64_t written, std::uint64_t named, std::uint64_t total);

 private:
  void Tell(const GameFolder& game, const PlanLists& plan);
  // Waits `time` or until stopped; false once stopped.
  bool Wait(std::chrono::milliseconds time);
  void Stop();

  const CopyCounters* const counters_;
  Progress& progress_;
  std::atomic<std::uint64_t> already_files_{0};
  std::atomic<std::uint64_t> total_{0};  // 0 until summed
  std::mutex mutex_;
  std::condition_variable stopped_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The files `plan` copies, their bytes and their count: those of each
// pair's source folder that the plan does not leave out, and the whole pits
// tree.
struct PlanSize {
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
};
PlanSize SizeOfPlan(const GameFolder& game, const PlanLists& plan, const std::atomic<bool>* stop = nullptr);
inline std::uint64_t PlanBytes(const GameFolder& game, const PlanLists& plan) { return SizeOfPlan(game, plan).bytes; }

}  // namespace velmora

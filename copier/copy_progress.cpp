#include "copier/copy_progress.h"

#include <algorithm>
#include <optional>

#include "copier/copy_plan.h"
#include "platform/file_sizes.h"
#include "platform/threads.h"

namespace velmora {

PlanSize SizeOfPlan(const GameFolder& game, const PlanLists& plan, const std::atomic<bool>* stop) {
  PlanSize size;
  const LeftOutNames left_out(plan.not_copy);
  for (std::size_t j = 0; j < plan.dirs.ListCount(); ++j) {
    if (stop && stop->load(std::memory_order_relaxed)) return size;
    const std::optional<GamePath> source = game.Parse(plan.dirs.List(j));
    const std::optional<GamePath> target = game.Parse(plan.dirs2.List(j));
    if (!source || !target || IsPitsPair(*source, *target)) continue;
    // As the file listing takes them: no hidden file, nothing the plan leaves out.
    size.bytes += SumOfFileSizes(game, *source, false, [&](std::string_view name, bool hidden) {
      const bool taken = !hidden && !left_out.Has(name);
      size.files += taken;
      return taken;
    });
  }
  size.bytes += SumOfFileSizes(game, *SplitRelative(kPitsSource), true, [&](std::string_view, bool) {
    ++size.files;
    return true;
  });
  return size;
}

std::uint64_t CopyProgress::Done(std::uint64_t already, std::uint64_t written, std::uint64_t named,
                                 std::uint64_t total) {
  // `already` may be a little off, valued at the average size.
  const std::uint64_t done = already + written / 2 + named / 2;
  return total == 0 ? 0 : std::min(done, total - 1);
}

CopyProgress::CopyProgress(const GameFolder& game, const PlanLists& plan, const CopyCounters* counters,
                           Progress& progress)
    : counters_(counters), progress_(progress) {
  thread_ = StartThread("progress", [this, &game, plan] { Tell(game, plan); });
}

CopyProgress::~CopyProgress() { Stop(); }

void CopyProgress::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(true, std::memory_order_relaxed);
  }
  stopped_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool CopyProgress::Wait(std::chrono::milliseconds time) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !stopped_.wait_for(lock, time, [this] { return stop_.load(std::memory_order_relaxed); });
}

void CopyProgress::Tell(const GameFolder& game, const PlanLists& plan) {
  if (!Wait(kSumAfter)) return;
  const PlanSize size = SizeOfPlan(game, plan, &stop_);
  const std::uint64_t total = size.bytes;
  if (total == 0 || stop_.load(std::memory_order_relaxed)) return;
  total_.store(total, std::memory_order_release);
  const std::uint64_t average = size.files ? total / size.files : 0;
  do {
    const std::uint64_t written = counters_ ? counters_->written.load(std::memory_order_relaxed) : 0;
    const std::uint64_t named = counters_ ? counters_->named.load(std::memory_order_relaxed) : 0;
    progress_.Report(Done(already_files_.load(std::memory_order_relaxed) * average, written, named, total), total);
  } while (Wait(kBetweenFigures));
}

void CopyProgress::Finish() {
  Stop();
  // The end is told, however long after the last figure it comes.
  if (const std::uint64_t total = total_.load(std::memory_order_acquire)) progress_.Report(total, total);
}

}  // namespace velmora

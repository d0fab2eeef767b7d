#include "copier/plan_sizes.h"

#include <algorithm>

#include "platform/threads.h"

namespace velmora {

PlanSizes::PlanSizes(const GameFolder& game, FileSystem& fs, const PlanLists& plan) {
  thread_ = StartThread("sizer", [this, &game, &fs, plan] {
    LowerThisThreadsPriority();
    try {
      FileListing files(game);
      std::uint64_t bytes = 0;
      VisitPlan(game, fs, plan, files, {[&](const GamePath& file, const GamePath&, Replace) {
                  if (stop_.load(std::memory_order_relaxed)) return false;
                  bytes += fs.FileSize(file).value_or(0);
                  ends_.push_back(bytes);
                  return true;
                },
                nullptr});
      if (!stop_.load(std::memory_order_relaxed)) known_.store(true, std::memory_order_release);
    } catch (...) {
      // The sizes stay unknown; the copy goes on without them.
    }
  });
}

PlanSizes::~PlanSizes() {
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}

PlanSizes::Sum PlanSizes::Through(std::size_t files) const {
  if (!known_.load(std::memory_order_acquire) || ends_.empty()) return {0, 0};
  // The folders may have changed since they were sized.
  return {files == 0 ? 0 : ends_[std::min(files, ends_.size()) - 1], ends_.back()};
}

}  // namespace velmora

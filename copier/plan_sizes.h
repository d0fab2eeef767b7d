#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "copier/copy_run.h"

namespace velmora {

// The sizes of the files a plan copies, in the order a run takes them,
// found on a thread of its own at the lowest priority, so that the copy
// never waits for them. When no thread can be had they stay unknown.
class PlanSizes {
 public:
  // `fs` and `plan` are used by the sizing thread until this is dropped.
  PlanSizes(const GameFolder& game, FileSystem& fs, const PlanLists& plan);
  ~PlanSizes();
  PlanSizes(const PlanSizes&) = delete;
  PlanSizes& operator=(const PlanSizes&) = delete;

  struct Sum {
    std::uint64_t done;
    std::uint64_t total;  // 0 while not known
  };
  // The bytes of the plan's first `files` files, of all of them.
  Sum Through(std::size_t files) const;

 private:
  std::vector<std::uint64_t> ends_;  // ends_[n]: bytes of the first n + 1 files
  std::atomic<bool> known_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace velmora

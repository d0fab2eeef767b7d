#include "app/command_worker.h"

#include <thread>
#include <utility>

namespace velmora {

bool CommandWorker::Run(const std::function<void()>& command, const std::function<void()>& wake,
                        const std::function<void()>& serve_until_done) {
  if (running_) return false;  // commands never overlap
  running_ = true;
  close_requested_ = false;
  done_.store(false, std::memory_order_release);
  std::thread worker([&] {
    try {
      command();
    } catch (...) {
    }
    // Set before the wake-up, so that a loop woken early still sees it.
    done_.store(true, std::memory_order_release);
    wake();
  });
  serve_until_done();
  worker.join();
  running_ = false;
  return std::exchange(close_requested_, false);
}

bool CommandWorker::DeferClose() {
  if (running_) close_requested_ = true;
  return running_;
}

}  // namespace velmora

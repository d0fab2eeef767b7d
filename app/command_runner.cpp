#include "app/command_runner.h"

#include <thread>
#include <utility>

#include "platform/threads.h"

namespace velmora {
namespace {

void RunPassingOver(const std::function<void()>& command) {
  try {
    command();
  } catch (...) {
  }
}

}  // namespace

bool CommandRunner::Press(design::Button pressed, const std::function<void()>& command) {
  if (running_) return false;  // commands never overlap
  if (pressed == design::kCommand1 || pressed == design::kEndProgram) {
    command();
    return true;
  }
  const bool copying = pressed == design::kCpyFls;
  if (copying) window_.ShowCopying(true);
  const bool close = RunOnWorker(command);
  if (copying) window_.ShowCopying(false);
  // A greyed button hands the focus on; it comes back to the one pressed,
  // so the next Space or Enter does not reach another command.
  window_.Focus(pressed);
  if (close) window_.End();
  return true;
}

bool CommandRunner::RunOnWorker(const std::function<void()>& command) {
  running_ = true;
  close_requested_ = false;
  done_.store(false, std::memory_order_release);
  std::thread worker = StartThread("command", [&] {
    RunPassingOver(command);
    // Set before the wake-up, so that a loop woken early still sees it.
    done_.store(true, std::memory_order_release);
    window_.Wake();
  });
  if (!worker.joinable()) {
    RunPassingOver(command);
    done_.store(true, std::memory_order_release);
  }
  window_.ServeDroppingInput([this] { return done_.load(std::memory_order_acquire); });
  if (worker.joinable()) worker.join();
  running_ = false;
  return std::exchange(close_requested_, false);
}

bool CommandRunner::DeferClose() {
  if (running_) close_requested_ = true;
  return running_;
}

}  // namespace velmora

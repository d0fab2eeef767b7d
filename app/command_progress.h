#pragma once

// A command's progress, from the worker that reports it to the window's
// thread that shows it on the taskbar.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/progress.h"

namespace velmora {

// What the taskbar shows of a command.
struct TaskProgress {
  enum class State { kNone, kUnknown, kPart, kError };  // kError: a command failed
  State state = State::kNone;
  double fraction = 0;  // with kPart: 0 to 1
  bool operator==(const TaskProgress&) const = default;
};

// A command's progress as its worker reports it: figures wanted at most
// about ten times a second, and none before `quiet_for` has passed, so that
// a short command shows nothing. Each figure wakes the window's thread
// through `wake`, which reads it with Latest().
class CommandProgress final : public Progress {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kBetweenFigures = std::chrono::milliseconds(100);

  CommandProgress(std::function<void()> wake, Clock::duration quiet_for);
  bool Wanted() override;
  void Report(std::uint64_t done, std::uint64_t total) override;
  TaskProgress Latest() const;

 private:
  std::function<void()> wake_;
  Clock::time_point next_;
  mutable std::mutex mutex_;
  TaskProgress latest_;
};

}  // namespace velmora

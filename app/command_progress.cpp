#include "app/command_progress.h"

#include <utility>

namespace velmora {

CommandProgress::CommandProgress(std::function<void()> wake, Clock::duration quiet_for)
    : wake_(std::move(wake)), next_(Clock::now() + quiet_for) {}

bool CommandProgress::Wanted() {
  const Clock::time_point now = Clock::now();
  if (now < next_) return false;
  next_ = now + kBetweenFigures;
  return true;
}

void CommandProgress::Report(std::uint64_t done, std::uint64_t total) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    latest_ = total == 0 ? TaskProgress{TaskProgress::State::kUnknown}
                         : TaskProgress{TaskProgress::State::kPart, done >= total ? 1.0 : double(done) / double(total)};
  }
  wake_();
}

TaskProgress CommandProgress::Latest() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

}  // namespace velmora

#include "app/command_runner.h"

#include <cstdio>
#include <exception>
#include <new>
#include <thread>
#include <utility>

#include "app/catalog.h"
#include "app/notices.h"
#include "platform/failures.h"
#include "platform/threads.h"

namespace velmora {
namespace {

// Runs `command`; one that throws tells that it stopped.
std::optional<Notice> RunCatching(const CommandRunner::Command& command, Progress& progress) {
  try {
    return command(progress);
  } catch (const UntoldFailures& untold) {
    return Notice{Fill(TrN("The command stopped before it was done: {count} file could not be copied, and why could "
                           "not be told. Press Copy files again.",
                           "The command stopped before it was done: {count} files could not be copied, and why could "
                           "not be told. Press Copy files again.",
                           untold.count()),
                       {{"count", Counted(untold.count())}})};
  } catch (const std::bad_alloc&) {
    return Notice{Tr("The command stopped before it was done: the computer ran out of memory. Close other programs, "
                     "then press the button again.")};
  } catch (const std::exception& failure) {
    return Notice{Fill(Tr("The command stopped before it was done: {reason}."), {{"reason", failure.what()}})};
  } catch (...) {
    return Notice{Tr("The command stopped before it was done.")};
  }
}

// A copy's progress shows at once; a rewrite's only when it is a long one.
CommandProgress::Clock::duration QuietFor(design::Button pressed) {
  return pressed == design::kCpyFls ? CommandProgress::Clock::duration::zero() : std::chrono::milliseconds(500);
}

}  // namespace

bool CommandRunner::Press(design::Button pressed, const Command& command) {
  if (running_) return false;  // commands never overlap
  running_ = true;
  close_requested_ = false;
  std::optional<Notice> notice;
  if (pressed == design::kEndProgram) {
    // It ends the program; nothing else is done then.
    notice = RunCatching(command, NoProgress());
    if (!notice) {
      running_ = false;
      return true;
    }
  } else if (pressed == design::kCommand1) {
    // The game started: the window goes at once, while the start is
    // watched; the program ends once the watch is over, unless it failed.
    leave_.store(false, std::memory_order_relaxed);
    bool away = false;
    notice = RunOnWorker(command, QuietFor(pressed), [&] {
      if (!away && leave_.load(std::memory_order_acquire)) window_.SetAway(away = true);
    });
    if (!notice) {
      running_ = false;
      window_.End();
      return true;
    }
    if (away && !close_requested_) window_.SetAway(false);
  } else {
    const bool copying = pressed == design::kCpyFls;
    if (copying) window_.ShowCopying(true);
    notice = RunOnWorker(command, QuietFor(pressed));
    if (copying) window_.ShowCopying(false);
  }
  // Also on the standard error, for a player who started it from a terminal.
  if (notice) std::fprintf(stderr, "velmora: %s\n", notice->text.c_str());
  if (notice && !close_requested_) Tell(*notice);
  running_ = false;
  // A greyed button hands the focus on; it comes back to the one pressed,
  // so the next Space or Enter does not reach another command.
  window_.Focus(pressed);
  if (std::exchange(close_requested_, false)) window_.End();
  return true;
}

void CommandRunner::Tell(const Notice& notice) {
  window_.ShowProgress({TaskProgress::State::kError});
  window_.Tell(notice);
  window_.ShowProgress({});
}

void CommandRunner::Leave() {
  leave_.store(true, std::memory_order_release);
  window_.Wake();
}

std::optional<Notice> CommandRunner::RunOnWorker(const Command& command, CommandProgress::Clock::duration quiet_for,
                                                 const std::function<void()>& between) {
  done_.store(false, std::memory_order_release);
  CommandProgress progress([this] { window_.Wake(); }, quiet_for);
  std::optional<Notice> notice;
  std::thread worker = StartThread("command", [&] {
    notice = RunCatching(command, progress);
    // Set before the wake-up, so that a loop woken early still sees it.
    done_.store(true, std::memory_order_release);
    window_.Wake();
  });
  if (!worker.joinable()) {
    notice = RunCatching(command, NoProgress());  // nobody could show it meanwhile
    done_.store(true, std::memory_order_release);
  }
  TaskProgress shown;
  window_.ServeDroppingInput([&] {
    if (between) between();
    if (const TaskProgress latest = progress.Latest(); latest != shown) window_.ShowProgress(shown = latest);
    return done_.load(std::memory_order_acquire);
  });
  if (worker.joinable()) worker.join();
  if (shown.state != TaskProgress::State::kNone) window_.ShowProgress({});
  return notice;
}

bool CommandRunner::DeferClose() {
  if (running_) close_requested_ = true;
  return running_;
}

}  // namespace velmora

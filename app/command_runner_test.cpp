#include "app/command_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/refused_threads.h"

namespace velmora {
namespace {

// A window that records what the runner asks of it. While it serves events
// it runs `meanwhile` once, as a press arriving during the command would.
class RecordingWindow : public CommandWindow {
 public:
  void ShowCopying(bool copying) override { steps.push_back(copying ? "copying" : "idle"); }
  void Wake() override {}
  void ServeDroppingInput(const std::function<bool()>& done) override {
    if (meanwhile) std::exchange(meanwhile, nullptr)();
    while (!done()) std::this_thread::yield();
    steps.push_back("served");
  }
  void ShowProgress(const TaskProgress& progress) override {
    shown.push_back(progress);
    if (progress.state == TaskProgress::State::kNone) steps.push_back("cleared");
  }
  void Tell(const Notice& notice) override {
    steps.push_back("tell " + notice.text);
    if (while_told) std::exchange(while_told, nullptr)();
  }
  void Focus(design::Button button) override { steps.push_back("focus " + std::to_string(button)); }
  void SetAway(bool away) override {
    steps.push_back(away ? "away" : "back");
    is_away = away;
  }
  void End() override { steps.push_back("end"); }

  std::vector<std::string> steps;
  std::function<void()> meanwhile;
  std::function<void()> while_told;  // run while the player reads a notice
  std::vector<TaskProgress> shown;
  std::atomic<bool> is_away{false};
};

TEST(CommandRunnerTest, APressOfAnyButtonWhileACommandRunsIsRefusedAndTheFocusGoesBackToThePressedOne) {
  RecordingWindow window;
  CommandRunner runner(window);
  int ran = 0;
  window.meanwhile = [&] {
    for (design::Button other : {design::kCpyFls, design::kCRTINI, design::kCommand1, design::kEndProgram})
      EXPECT_FALSE(runner.Press(other, [&] { ++ran; })) << "button " << other;
  };
  EXPECT_TRUE(runner.Press(design::kCpyFls, [&] { ++ran; }));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(window.steps, (std::vector<std::string>{"copying", "served", "idle", "focus 0"}));
  EXPECT_FALSE(runner.Running());
  EXPECT_TRUE(runner.Press(design::kCRTINI, [&] { ++ran; }));
  EXPECT_EQ(ran, 2);
}

TEST(CommandRunnerTest, WithoutAThreadTheCommandRunsWholeOnThePressingThreadAndTheRunnerStaysUsable) {
  testing::RefusedThreads refused({"command"});
  RecordingWindow window;
  CommandRunner runner(window);
  std::thread::id ran_on;
  // Events queued during the command are served after it: a second press
  // is refused, a request to close is carried out.
  window.meanwhile = [&] {
    EXPECT_FALSE(runner.Press(design::kCRTINI, [] { ADD_FAILURE() << "ran inside a command"; }));
    EXPECT_TRUE(runner.DeferClose());
  };
  EXPECT_TRUE(runner.Press(design::kCpyFls, [&] { ran_on = std::this_thread::get_id(); }));
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(window.steps, (std::vector<std::string>{"copying", "served", "idle", "focus 0", "end"}));
  EXPECT_FALSE(runner.Running());
  EXPECT_FALSE(runner.DeferClose()) << "a close would be deferred for ever";
  EXPECT_TRUE(runner.Press(design::kCRTINI, [] {}));
}

TEST(CommandRunnerTest, ACommandThatThrowsIsPassedOverAndACloseAskedMeanwhileEndsTheProgramAfterIt) {
  RecordingWindow window;
  CommandRunner runner(window);
  window.meanwhile = [&] { EXPECT_TRUE(runner.DeferClose()); };
  EXPECT_TRUE(runner.Press(design::kCRTINI, [] { throw std::runtime_error("injected"); }));
  EXPECT_EQ(window.steps, (std::vector<std::string>{"served", "focus 1", "end"}));
  EXPECT_FALSE(runner.Running());
}

TEST(CommandRunnerTest, WhatACommandTellsIsShownOnceAfterItWithTheTaskbarShowingAFailureAndNothingRunsMeanwhile) {
  const CommandRunner::Command failing = [](Progress&) { return std::optional<Notice>(Notice{"disk full"}); };
  for (const design::Button pressed : {design::kCpyFls, design::kCommand1}) {
    RecordingWindow window;
    CommandRunner runner(window);
    // The player closes the window while reading: it ends once the notice is closed.
    window.while_told = [&] {
      EXPECT_FALSE(runner.Press(design::kCRTINI, [] { ADD_FAILURE() << "ran while a notice was shown"; }));
      EXPECT_TRUE(runner.DeferClose());
    };
    EXPECT_TRUE(runner.Press(pressed, failing));
    std::vector<std::string> steps{"served", "tell disk full", "cleared", "focus " + std::to_string(pressed), "end"};
    if (pressed == design::kCpyFls) {
      steps.insert(steps.begin(), "copying");
      steps.insert(steps.begin() + 2, "idle");
    }
    EXPECT_EQ(window.steps, steps);
    ASSERT_EQ(window.shown.size(), 2u);
    EXPECT_EQ(window.shown[0].state, TaskProgress::State::kError);
    EXPECT_EQ(window.shown[1].state, TaskProgress::State::kNone);
  }
  // A close asked for during the command itself ends the program without a
  // notice to wait on; a command that tells nothing shows nothing.
  RecordingWindow window;
  CommandRunner runner(window);
  window.meanwhile = [&] { EXPECT_TRUE(runner.DeferClose()); };
  EXPECT_TRUE(runner.Press(design::kCRTINI, failing));
  EXPECT_TRUE(runner.Press(design::kCRTINI, [] {}));
  EXPECT_EQ(window.steps, (std::vector<std::string>{"served", "focus 1", "end", "served", "focus 1"}));
}

// "Run Velmora": the window goes as soon as the command says the game is
// started, while the command still watches it, served all the while; the
// program ends when the command tells nothing, and the window comes back
// before a failure is told.
TEST(CommandRunnerTest, RunVelmorasWindowGoesOnceTheGameIsStartedAndComesBackOnlyToTellAFailure) {
  for (const bool fail : {false, true}) {
    RecordingWindow window;
    CommandRunner runner(window);
    std::atomic<bool> seen_away{false};
    window.meanwhile = [] {};
    EXPECT_TRUE(runner.Press(design::kCommand1, CommandRunner::Command([&](Progress&) -> std::optional<Notice> {
      runner.Leave();
      // The watch goes on until the window is seen away.
      while (!window.is_away) std::this_thread::yield();
      seen_away = true;
      if (fail) return Notice{"wine failed"};
      return std::nullopt;
    })));
    EXPECT_TRUE(seen_away);
    const std::vector<std::string> told{"away", "served", "back", "tell wine failed", "cleared", "focus 2"};
    const std::vector<std::string> ended{"away", "served", "end"};
    EXPECT_EQ(window.steps, fail ? told : ended);
    EXPECT_FALSE(runner.Running());
  }
}

// Reports each figure once it is wanted.
void ReportWhenWanted(Progress& progress, std::uint64_t done, std::uint64_t total) {
  while (!progress.Wanted()) std::this_thread::yield();
  progress.Report(done, total);
}

TEST(CommandRunnerTest, TheTaskbarShowsWhatTheCommandReportedAndIsClearedWhenItEndsAlsoByAFailureOrAClose) {
  for (const bool fail : {false, true}) {
    RecordingWindow window;
    CommandRunner runner(window);
    if (fail) window.meanwhile = [&] { EXPECT_TRUE(runner.DeferClose()); };
    runner.Press(design::kCpyFls, [&](Progress& progress) {
      ReportWhenWanted(progress, 0, 0);
      ReportWhenWanted(progress, 300, 1000);
      ReportWhenWanted(progress, 1000, 1000);
      if (fail) throw std::runtime_error("injected");
    });
    // Each figure shown is one reported, in order; the last is always seen.
    ASSERT_GE(window.shown.size(), 2u);
    double last = -1;
    for (std::size_t i = 0; i + 1 < window.shown.size(); ++i) {
      const TaskProgress& shown = window.shown[i];
      if (shown.state == TaskProgress::State::kUnknown) {
        EXPECT_EQ(i, 0u) << "the amount unknown after a fraction";
        continue;
      }
      ASSERT_EQ(shown.state, TaskProgress::State::kPart);
      EXPECT_TRUE(shown.fraction == 0.3 || shown.fraction == 1.0) << shown.fraction;
      EXPECT_GT(shown.fraction, last);
      last = shown.fraction;
    }
    EXPECT_EQ(last, 1.0);
    std::vector<std::string> steps{"copying", "served", "cleared", "idle", "focus 0"};
    if (fail) steps.push_back("end");
    EXPECT_EQ(window.steps, steps);
  }
}

}  // namespace
}  // namespace velmora

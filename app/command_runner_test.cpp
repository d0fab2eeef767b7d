#include "app/command_runner.h"

#include <gtest/gtest.h>

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
  void Focus(design::Button button) override { steps.push_back("focus " + std::to_string(button)); }
  void End() override { steps.push_back("end"); }

  std::vector<std::string> steps;
  std::function<void()> meanwhile;
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

}  // namespace
}  // namespace velmora

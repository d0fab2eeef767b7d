#include "app/command_progress.h"

#include <gtest/gtest.h>

#include <thread>

namespace velmora {
namespace {

TEST(CommandProgressTest, FiguresAreWantedAtMostTenTimesASecondAndARewritesNotInItsFirstHalfSecond) {
  using Clock = CommandProgress::Clock;
  CommandProgress copy([] {}, Clock::duration::zero());
  const Clock::time_point start = Clock::now();
  int wanted = 0;
  while (Clock::now() - start < std::chrono::milliseconds(350)) wanted += copy.Wanted();
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(wanted, 1) << "a copy's first figure is wanted at once";
  EXPECT_LE(wanted, elapsed / CommandProgress::kBetweenFigures + 1);

  const Clock::time_point begun = Clock::now();
  CommandProgress rewrite([] {}, std::chrono::milliseconds(500));
  while (!rewrite.Wanted()) std::this_thread::yield();
  EXPECT_GE(Clock::now() - begun, std::chrono::milliseconds(500));
}

}  // namespace
}  // namespace velmora

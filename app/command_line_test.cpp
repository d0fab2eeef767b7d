#include "app/command_line.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, NoArgumentOrOneFolderRunsThereTheFlagsAnswerAndAnythingElseIsMisuse) {
  EXPECT_EQ(ParseCommandLine({}).action, Action::kRun);
  EXPECT_EQ(ParseCommandLine({}).folder, "");
  EXPECT_EQ(ParseCommandLine({"/games/My Game (GOG)"}).folder, "/games/My Game (GOG)");
  EXPECT_EQ(ParseCommandLine({"--", "-odd-name"}).folder, "-odd-name");
  EXPECT_EQ(ParseCommandLine({"--help"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandLine({"folder", "--version"}).action, Action::kVersion);
  for (const auto& misuse : std::vector<std::vector<std::string>>{{"-x"}, {"--bogus"}, {"a", "b"}, {""}})
    EXPECT_EQ(ParseCommandLine(misuse).action, Action::kMisuse) << misuse.front();
  EXPECT_EQ(VersionText().rfind("velmora ", 0), 0u);
}

}  // namespace
}  // namespace velmora

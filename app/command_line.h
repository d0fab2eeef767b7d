#pragma once

#include <string>
#include <vector>

namespace velmora {

// What the utility was asked to do on its command line: no argument, work
// in the current folder; one folder, work there exactly as if started in it.
struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kMisuse };
  Action action = Action::kRun;
  std::string folder;  // empty: the current folder
};

CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "velmora VERSION".
std::string VersionText();
// How to call it, a few lines.
std::string UsageText();

}  // namespace velmora

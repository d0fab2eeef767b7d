#include "app/command_line.h"

#include "velmora_version.h"

namespace velmora {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  bool options_end = false;
  for (const std::string& argument : arguments) {
    if (!options_end && argument == "--") {
      options_end = true;
    } else if (!options_end && (argument == "--help" || argument == "-h")) {
      return {CommandLine::Action::kHelp, {}};
    } else if (!options_end && argument == "--version") {
      return {CommandLine::Action::kVersion, {}};
    } else if ((!options_end && !argument.empty() && argument[0] == '-') || !line.folder.empty() ||
               argument.empty()) {
      return {CommandLine::Action::kMisuse, {}};
    } else {
      line.folder = argument;
    }
  }
  return line;
}

std::string VersionText() { return std::string("velmora ") + VELMORA_VERSION; }

std::string UsageText() {
  return "Usage: velmora [GAME_FOLDER]\n"
         "Prepares the Velmora add-on in the game folder (by default the current\n"
         "folder) and starts the game on it.\n"
         "  --help     show this text\n"
         "  --version  show the version\n";
}

}  // namespace velmora

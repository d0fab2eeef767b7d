#include "app/command_line.h"

#include "app/catalog.h"

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
  return Tr("Usage: velmora [GAME_FOLDER]\n"
            "Prepares the Velmora add-on in the game folder (by default the current\n"
            "folder) and starts the game on it. A folder without the game is asked for.\n"
            "A command that did everything says nothing; one that did not says why in\n"
            "a message: files Copy files could not copy (add-on not installed, disk\n"
            "full, not allowed, read-only disk, files in use or changed), a Config.ini\n"
            "missing or a Qorvane.ini that could not be written, a game Run Velmora\n"
            "could not start (Dromvik.exe missing, no wine, a Steam or Bottles game).\n"
            "  --help     show this text\n"
            "  --version  show the version\n"
            "Exit status: 0 closed or game started; 1 no game folder or no graphical\n"
            "session; 2 command line not understood; 3 the game could not be started.\n");
}

}  // namespace velmora

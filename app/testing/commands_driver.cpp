// "Copy files", then "Create INI-file", on a game folder, through the code
// the window runs, without a window: for tests that watch what reaches the
// disk (app/testing/power_cut_test.py).
//
// Usage: commands_driver GAME_FOLDER [--no-flush]
// --no-flush makes the flush of each batch of copies do nothing, so copies
// are named before their data is on the disk: the control that a power-cut
// test must catch.
#include <cstring>
#include <iostream>

#include "app/commands.h"
#include "platform/posix/calls.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: commands_driver GAME_FOLDER [--no-flush]\n";
    return 2;
  }
  using namespace velmora;
  if (argc > 2 && std::strcmp(argv[2], "--no-flush") == 0) CurrentPosixFileCalls().sync_file_system = [](int) { return 0; };
  const GameFolder game(argv[1]);
  WorkLists lists(game);
  RunCopyFiles(game, OpenFileSystem, lists);
  RunCreateConfigIni(game, OpenFileSystem, lists);
  return 0;
}

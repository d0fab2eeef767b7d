#pragma once

// The window's working data and its two commands, free of any toolkit so
// that the Qt and the Win32 window run the same code.
#include "app/command_runner.h"
#include "app/notice.h"
#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/listings.h"
#include "platform/string_list.h"

namespace velmora {

// Six lists the window owns for its whole life and never shows.
struct WorkLists {
  explicit WorkLists(const GameFolder& game) : File1(game), Dir1(game) {}

  StringList NotCopy;
  StringList Dirs;
  StringList Dirs2;
  StringList NewIni;
  FileListing File1;
  FolderListing Dir1;
};

// "Copy files" between locking and unlocking the window. A copy that fails
// is passed over; what failed, by cause, is told once the run has ended.
std::optional<Notice> RunCopyFiles(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists,
                                   Progress& progress = NoProgress());

// "Create INI-file": the old file stays whenever the new one cannot be
// written, and that is told.
std::optional<Notice> RunCreateConfigIni(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists,
                                         Progress& progress = NoProgress());

// The four buttons' commands on one game folder, each run through one
// CommandRunner: one at a time, whatever route the press came by.
class ButtonCommands {
 public:
  // Each command opens the file system with `open`; `window` is the
  // window the buttons are on.
  ButtonCommands(GameFolder game, FileSystemOpener open, CommandWindow& window);

  // Runs the command of `button`: "Copy files", "Create INI-file", "Run
  // Velmora" (starts the game and ends the program: the window goes as soon
  // as the start is made, and comes back saying why when the game cannot be
  // started or its starter fails within the watch) or "Close". False, with
  // nothing done, while a command runs.
  bool Press(design::Button button);
  // See CommandRunner::DeferClose.
  bool DeferClose() { return runner_.DeferClose(); }
  // The program's exit status: non-zero when the last "Run Velmora" could
  // not start the game.
  int ExitStatus() const { return launch_failed_ ? kGameNotStarted : 0; }
  static constexpr int kGameNotStarted = 3;

 private:
  GameFolder game_;
  FileSystemOpener open_;
  CommandWindow& window_;
  WorkLists lists_;
  CommandRunner runner_;
  bool launch_failed_ = false;
};

}  // namespace velmora

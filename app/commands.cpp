#include "app/commands.h"

#include <utility>

#include "app/launcher.h"
#include "config/ini_rewriter.h"
#include "copier/copy_run.h"

namespace velmora {

void RunCopyFiles(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists, Progress& progress) {
  try {
    const std::unique_ptr<FileSystem> fs = open(game);
    // The thread that sizes the plan only reads, through its own view of the disk.
    const std::unique_ptr<FileSystem> sizing_fs = &progress == &NoProgress() ? nullptr : OpenFileSystem(game);
    CopySeasonFiles(game, *fs, {lists.NotCopy, lists.Dirs, lists.Dirs2, lists.Dir1, lists.File1}, progress,
                    sizing_fs.get());
  } catch (...) {
  }
}

void RunCreateConfigIni(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists,
                        Progress& progress) {
  try {
    CreateConfigIni(*open(game), lists.NewIni, progress);
  } catch (...) {
  }
}

ButtonCommands::ButtonCommands(GameFolder game, FileSystemOpener open, CommandWindow& window)
    : game_(std::move(game)), open_(std::move(open)), window_(window), lists_(game_), runner_(window) {}

bool ButtonCommands::Press(design::Button button) {
  switch (button) {
    case design::kCpyFls:
      return runner_.Press(button, [this](Progress& progress) { RunCopyFiles(game_, open_, lists_, progress); });
    case design::kCRTINI:
      return runner_.Press(button,
                           [this](Progress& progress) { RunCreateConfigIni(game_, open_, lists_, progress); });
    case design::kCommand1:
      return runner_.Press(button, [this] {
        LaunchGame(game_);
        window_.End();
      });
    case design::kEndProgram:
      return runner_.Press(button, [this] { window_.End(); });
  }
  return false;
}

}  // namespace velmora

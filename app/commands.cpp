#include "app/commands.h"

#include "config/ini_rewriter.h"
#include "copier/copy_run.h"

namespace velmora {

void RunCopyFiles(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists) {
  try {
    const std::unique_ptr<FileSystem> fs = open(game);
    CopySeasonFiles(game, *fs, {lists.NotCopy, lists.Dirs, lists.Dirs2, lists.Dir1, lists.File1});
  } catch (...) {
  }
}

void RunCreateConfigIni(const GameFolder& game, const FileSystemOpener& open,
                        WorkLists& lists) {
  try {
    CreateConfigIni(*open(game), lists.NewIni);
  } catch (...) {
  }
}

}  // namespace velmora

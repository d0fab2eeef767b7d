#include "app/commands.h"

#include <utility>

#include "app/launcher.h"
#include "app/notices.h"
#include "config/ini_rewriter.h"
#include "copier/copy_run.h"

namespace velmora {

std::optional<Notice> RunCopyFiles(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists,
                                   Progress& progress) {
  const std::unique_ptr<FileSystem> fs = open(game);
  const CopyOutcome outcome =
      CopySeasonFiles(game, *fs, {lists.NotCopy, lists.Dirs, lists.Dirs2, lists.Dir1, lists.File1}, progress);
  return NoticeOf(outcome, game);
}

std::optional<Notice> RunCreateConfigIni(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists,
                                         Progress& progress) {
  return NoticeOf(CreateConfigIni(*open(game), lists.NewIni, progress));
}

ButtonCommands::ButtonCommands(GameFolder game, FileSystemOpener open, CommandWindow& window)
    : game_(std::move(game)), open_(std::move(open)), window_(window), lists_(game_), runner_(window) {}

bool ButtonCommands::Press(design::Button button) {
  switch (button) {
    case design::kCpyFls:
      return runner_.Press(button, CommandRunner::Command([this](Progress& progress) {
                             return RunCopyFiles(game_, open_, lists_, progress);
                           }));
    case design::kCRTINI:
      return runner_.Press(button,
                           CommandRunner::Command([this](Progress& progress) {
                             return RunCreateConfigIni(game_, open_, lists_, progress);
                           }));
    case design::kCommand1:
      return runner_.Press(button, CommandRunner::Command([this](Progress&) {
                             const LaunchOutcome outcome = LaunchGame(game_, [this] { runner_.Leave(); });
                             launch_failed_ = !outcome;
                             return NoticeOf(outcome, game_);
                           }));
    case design::kEndProgram:
      return runner_.Press(button, [this] { window_.End(); });
  }
  return false;
}

}  // namespace velmora

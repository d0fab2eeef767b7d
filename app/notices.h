#pragma once

// What the player is told when a command did not do everything, in the
// player's words; a command that did everything tells nothing.
#include <optional>
#include <string>

#include "app/launcher.h"
#include "app/notice.h"
#include "config/ini_rewriter.h"
#include "copier/copy_run.h"
#include "platform/game_folder.h"

namespace velmora {

// Each failure cause once, with how many files it kept from being copied
// and the first of them, by path below the game folder.
std::optional<Notice> NoticeOf(const CopyOutcome& outcome, const GameFolder& game);
std::optional<Notice> NoticeOf(const IniOutcome& outcome);
std::optional<Notice> NoticeOf(const LaunchOutcome& outcome, const GameFolder& game);

// The folder chooser's title, and what it says of a folder without a game.
std::string ChooserTitle();
std::string NoGameHere();

// 5600 as "5,600" (in the player's language's way).
std::string Counted(std::size_t count);

}  // namespace velmora

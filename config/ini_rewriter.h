#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>
#include <string_view>

#include "platform/file_system.h"
#include "platform/progress.h"
#include "platform/string_list.h"

namespace velmora {

inline constexpr std::string_view kGameConfig = "Config.ini";
inline constexpr std::string_view kAddonConfig = "Qorvane.ini";
// The spelling the game opens it by (its launch argument names it so): the
// name written in a game folder where names are case-sensitive.
inline constexpr std::string_view kAddonConfigAsOpened = "Qorvane.INI";

// The line that stands for `line` in the add-on's configuration: a line that
// begins with SEASONDIR, OPTIONSDIR, REPLAYDIR or SAVEDIR in any letter case
// becomes that key pointed at the add-on's folder; any other line is itself.
std::string_view RewriteLine(std::string_view line);

// Hands each rewritten line of `text` to `take`, in order, until `take`
// returns false. Lines end at CR LF or LF, and a lone CR belongs to its
// line; in a text without any LF, lines end at CR. A last line without an
// end is a line too. False when `take` stopped it. Tells `progress` how many
// bytes of `text` are done.
bool ForEachRewrittenLine(std::string_view text, const std::function<bool(std::string_view line)>& take,
                          Progress& progress = NoProgress());

// Appends the rewritten lines of `text`.
void AddRewrittenLines(std::string_view text, StringList& lines);

// The lines, each followed by CR LF.
std::string JoinLines(const StringList& lines);

// What "Create INI-file" came to.
struct IniOutcome {
  enum class Result {
    kWritten,
    kNoGameConfig,    // Config.ini is not there
    kUnreadable,      // Config.ini could not be read whole: `cause` says why
    kNotWritten,      // Qorvane.ini could not be written: `cause` says why
  };
  Result result = Result::kWritten;
  Cause cause = Cause::kNone;
  // The add-on's configuration was there before (and stays when it could
  // not be written).
  bool replacing = false;
  // Written, but Config.ini names no SEASONDIR, so the game will not race
  // the add-on's season.
  bool no_season_key = false;
  // The name written, or that could not be.
  std::string_view name = kAddonConfig;
  // Where names are case-sensitive, an older file of the add-on's
  // configuration under another spelling ("Qorvane.ini"): the game does not
  // read it, and it is left as it is.
  std::string other_spelling = {};
  // Written: the folders it names for the game's options, replays and saves
  // ("OPTIONSDIR", "ZENTOOPTIONS") that are not in the game folder, so the
  // game cannot keep them.
  std::vector<std::pair<std::string_view, std::string_view>> missing_folders = {};
};

// Builds the add-on's configuration from the game's and writes it, each
// line as it is built: no more than the game's configuration is held in
// memory, so `new_ini` is emptied and stays so. Without a readable game
// configuration nothing is written; the old file stays as it was whenever
// the new one cannot be written whole. Tells `progress` how many bytes of
// the game's configuration are done.
IniOutcome CreateConfigIni(FileSystem& fs, StringList& new_ini, Progress& progress = NoProgress());

}  // namespace velmora

#pragma once

#include "platform/file_system.h"
#include "platform/game_folder.h"
#include <functional>

#include "platform/listings.h"
#include "platform/progress.h"
#include "platform/string_list.h"

namespace velmora {

// The window's work lists that a copy keeps its plan in.
struct CopyLists {
  StringList& not_copy;
  StringList& dirs;
  StringList& dirs2;
  FolderListing& dir1;
  FileListing& file1;
};

// What a copy run came to: every file the plan takes is copied now, was
// there already, or failed for the cause given.
struct CopyOutcome {
  std::size_t copied = 0;
  std::size_t already_there = 0;
  // In the order the files were met, each by the file that was to be
  // written, or by the game's file when that could not be read or was gone.
  std::vector<Failure> failures;
  // The add-on's season folder is not in the game folder at all.
  bool season_folder_missing = false;
  // The game's folders that could not be listed, so nothing in them was
  // copied: the track folder, a circuit's, a pits folder. A pits folder the
  // game lacks is not among them.
  struct Unlisted {
    GamePath folder;  // as the disk spells it
    Cause cause;
    std::string leads_to;  // where a link on the way leads, when it leads nowhere
    GamePath link = {};    // that link, as the disk spells it
  };
  std::vector<Unlisted> unlisted;
  // The game's track folder was listed, but nothing in it is to be copied.
  bool nothing_to_copy = false;
  // Pits folders that could not be made (the uppermost of each tree), with
  // the cause and how many of the failures are files meant for it or below.
  struct Unmade {
    GamePath folder;  // as the disk spells it
    Cause cause;
    std::size_t files = 0;
  };
  std::vector<Unmade> unmade;
};

// Fills the add-on's season folder: builds a fresh plan in `lists`, copies
// every file of every folder pair that the plan does not leave out into the
// pair's target folder without replacing anything there, then copies the
// pits folder whole, replacing files. A copy that fails is passed over and
// told in the outcome; every copy is written and named before it returns.
// A circuit whose folder the add-on's season lacks is not among its
// circuits: its files are passed over and not told. Paths in the outcome
// are as the disk spells them.
// Tells `progress`, when it wants figures, how far it has come: the amount
// unknown while the plan is made and summed, then bytes (files already
// there count as done when they are passed), the whole once the last copy
// has its name.
CopyOutcome CopySeasonFiles(const GameFolder& game, FileSystem& fs, const CopyLists& lists,
                            Progress& progress = NoProgress());

// A made plan: the names never copied file by file and the folder pairs.
struct PlanLists {
  const StringList& not_copy;
  const StringList& dirs;
  const StringList& dirs2;
};

// What is done for each step of a plan: `file` for each file to copy into a
// folder (false stops the walk), `folder` for each pits folder to make first,
// `unlisted` for each of the game's folders that could not be listed.
struct PlanVisitor {
  std::function<bool(const GamePath& file, const GamePath& target_folder, Replace replace)> file;
  std::function<void(const GamePath& folder)> folder;
  std::function<void(const GamePath& folder, Cause cause)> unlisted = nullptr;
};

// Walks `plan` in the order a run copies: each pair's files, listed afresh
// with `files`, then the pits tree. Only reads the disk.
void VisitPlan(const GameFolder& game, FileSystem& fs, const PlanLists& plan, FileListing& files,
               const PlanVisitor& visit);

// Copies a folder's files and sub-folders at every depth into `to`, replacing
// files there and creating missing folders (`to` itself when its parent exists).
void CopyFolderReplacing(FileSystem& fs, const GamePath& from, const GamePath& to);

}  // namespace velmora

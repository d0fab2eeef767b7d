#pragma once

#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/listings.h"
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

// Fills the add-on's season folder: builds a fresh plan in `lists`, copies
// every file of every folder pair that the plan does not leave out into the
// pair's target folder without replacing anything there, then copies the
// pits folder whole, replacing files. A copy that fails is passed over.
void CopySeasonFiles(const GameFolder& game, FileSystem& fs, const CopyLists& lists);

// Copies a folder's files and sub-folders at every depth into `to`, replacing
// files there and creating missing folders (`to` itself when its parent exists).
void CopyFolderReplacing(FileSystem& fs, const GamePath& from, const GamePath& to);

}  // namespace velmora

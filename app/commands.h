#pragma once

// The window's working data and its two commands, free of any toolkit so
// that the Qt and the Win32 window run the same code.
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

// "Copy files" between locking and unlocking the window. Whatever fails,
// an exception too, is passed over like any failed copy.
void RunCopyFiles(const GameFolder& game, const FileSystemOpener& open, WorkLists& lists);

// "Create INI-file". Whatever fails is passed over: the old file stays.
void RunCreateConfigIni(const GameFolder& game, const FileSystemOpener& open,
                        WorkLists& lists);

}  // namespace velmora

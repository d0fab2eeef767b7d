#pragma once

// Reading below the game folder. Reads go by path and follow the folders a
// player linked (season02 kept on another disk, say); a link to a file is
// left out, and a link leading back to a folder above is not followed round.
#include <sys/stat.h>

#include <string>

#include "platform/case_resolver.h"
#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/posix/status.h"
#include "platform/posix/unique_fd.h"

namespace velmora {

// Opens a file for reading only when it is a regular file, filling `st`:
// opened without blocking, a pipe or a device cannot hold the command up.
// `path` is relative to the folder `at`.
Result<UniqueFd> OpenRegular(int at, const char* path, int extra_flags, struct stat& st);

// True when a file's status before and after reading it says nobody wrote
// to it meanwhile: the same size, modification and change times.
bool Unchanged(const struct stat& before, const struct stat& after);

// Reads the whole of an open regular file of the status `st`, from its
// start. A file written to while it is read is read once more; when it has
// changed again it fails: its content could mix two versions, or be cut.
Result<std::string> ReadUnchanged(int fd, struct stat st);

// What an entry of a source folder is read as: a link to a folder as that
// folder (a circuit kept on another disk); a link to a file is left out.
EntryKind KindOf(const std::string& folder, std::string_view name, unsigned char type);

// True when a folder is reached twice on the way from the game folder to
// `path`: a link to a folder around it, which would be listed without end.
bool GoesRoundInALoop(const std::string& root, const std::string& path);

// The source files of a copy, opened through their folder, which stays open
// for the next file of the same folder.
class SourceFiles {
 public:
  explicit SourceFiles(CaseResolver& resolver) : resolver_(resolver) {}

  // Opens a source file (not a link). Its name comes from its folder's own
  // listing, so it is tried as it stands; only a name in another letter
  // case is looked up.
  Result<UniqueFd> Open(const GamePath& source, struct stat& st);
  // The status of a source file (of what a link leads to), found as Open
  // finds it, through the same folder handle; false when there is none.
  bool StatFollowing(const GamePath& source, struct stat& st);
  // Gives back the folder kept open.
  void Close() { folder_.Close(); }

 private:
  // Opens the folder `source` lies in, unless it is the one open now.
  Status EnterFolderOf(const GamePath& source);

  CaseResolver& resolver_;
  UniqueFd folder_;  // the folder last read from
  GamePath folder_key_;
};

}  // namespace velmora

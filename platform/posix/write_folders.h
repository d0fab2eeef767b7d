#pragma once

// The folders below the game folder that files are written into, opened
// one name at a time from the game folder, each relative to the one before
// and without following a link, and kept open. Every file is then created,
// linked and renamed relative to the handle of the folder it lands in: a
// folder swapped for a link after it was opened cannot send a write
// elsewhere, and one swapped before fails to open. This is how systemd's
// chase() and coreutils' fts-based removal walk folders.
#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/case_resolver.h"
#include "platform/game_folder.h"
#include "platform/posix/status.h"
#include "platform/posix/unique_fd.h"

namespace velmora {

// A folder open for writing, its path (for the case index and tests), the
// file system it lies on, and whether a file written there must be flushed
// alone: one flush of its whole file system (syncfs) does not reach a FUSE
// driver (ntfs-3g, exfat-fuse), a flush of the file does.
struct OpenFolder {
  std::shared_ptr<const UniqueFd> fd;
  std::string path;
  dev_t device = 0;
  bool flush_alone = false;
  // A file system without a journal (vfat, exfat, and FUSE drivers): the
  // folder is flushed after a rename that replaces a file.
  bool no_journal = false;
};

class WriteFolders {
 public:
  // Below the game folder `root`; names are found through `resolver`. At
  // most `most_open` folders are kept open at once.
  WriteFolders(const std::string& root, CaseResolver& resolver, std::size_t most_open);

  // Opens a folder below the game folder for writing; a folder opened once
  // stays open, as many as the limit allows.
  Result<OpenFolder> Open(const GamePath& folder);
  // The names in an open folder, read through its handle on first use.
  Result<CaseResolver::FolderIndex*> IndexOf(const OpenFolder& folder);
  // A folder opened for writing, with the names in it.
  struct Indexed {
    OpenFolder folder;
    CaseResolver::FolderIndex* index;
  };
  Result<Indexed> OpenWithIndex(const GamePath& folder);
  // Closes every folder kept open but the game folder.
  void CloseAll();
  // Drops the names read in a folder (by its path); read again on next use.
  void ForgetIndex(const std::string& path);

 private:
  // Fills in the file system `at` lies on, asked once for each; false when
  // the folder's status cannot be had.
  bool Describe(OpenFolder& at);

  CaseResolver& resolver_;
  struct Kind {
    bool fuse = false;
    bool no_journal = false;
  };
  std::map<dev_t, Kind> kinds_;  // by file system
  OpenFolder root_;
  Status root_failure_;
  std::size_t most_open_;
  std::map<std::string, OpenFolder> open_;
  std::optional<std::pair<GamePath, OpenFolder>> last_open_;  // the folder last written into
  CaseResolver::FolderIndex* last_index_ = nullptr;          // and its index
  std::string last_index_path_;
};

}  // namespace velmora

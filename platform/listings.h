#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/string_list.h"

namespace velmora {

// A folder and its immediate sub-folders, as full paths in the game's form.
class FolderListing {
 public:
  // Starts pointed at the game folder.
  explicit FolderListing(const GameFolder& game) : game_(game), path_(game.Root()) {}

  // Makes `path` current and reads its sub-folders afresh. On failure the
  // listing keeps its previous folder and entries, and the cause is told.
  FileResult SetPath(FileSystem& fs, std::string_view path);
  const std::string& Path() const { return path_; }
  // -1: the folder itself; 0 to n-1: its sub-folders; n and on: "".
  std::string List(int i) const;
  int ListCount() const { return int(names_.ListCount()); }

 private:
  const GameFolder& game_;
  std::string path_;
  StringList names_;
};

// A folder and the names of the files in it that are neither hidden nor
// system files.
class FileListing {
 public:
  explicit FileListing(const GameFolder& game) : game_(game), path_(game.Root()) {}

  FileResult SetPath(FileSystem& fs, std::string_view path);
  const std::string& Path() const { return path_; }
  std::size_t ListCount() const { return names_.ListCount(); }
  // The bare name of the k-th file; valid until the listing is next set.
  std::string_view List(std::size_t k) const { return names_.List(k); }

 private:
  const GameFolder& game_;
  std::string path_;
  StringList names_;  // packed: a folder may hold a great many
};

}  // namespace velmora

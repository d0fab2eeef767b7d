#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/game_folder.h"

namespace velmora {

// Finds names below the game folder the way Windows does, ignoring letter
// case, on a file system that does not. Each folder is read once and
// remembered, so a resolver should live for one command only.
class CaseResolver {
 public:
  // What one read of a folder found: names with their kind (a dirent d_type).
  class FolderIndex {
   public:
    void Add(std::string name, unsigned char type);
    // The exact name if present; otherwise the first name in byte order that
    // equals it ignoring case.
    std::optional<std::string> Find(std::string_view name) const;
    const std::map<std::string, unsigned char>& Entries() const { return entries_; }
    unsigned char TypeOf(const std::string& name) const { return entries_.at(name); }

   private:
    std::map<std::string, unsigned char> entries_;
    std::unordered_map<std::string, std::string> by_upper_name_;
  };

  struct Resolved {
    std::string path;  // the operating system's path
    bool exists;
    bool through_link = false;  // a folder on the way is a symbolic link
    bool is_link = false;       // the last name is a symbolic link
  };

  explicit CaseResolver(std::string root) : root_(std::move(root)) {}

  // Resolves each name in turn. From the first name that does not exist on,
  // names keep the spelling given.
  Resolved Resolve(const GamePath& path);
  // The index of a folder given by its operating system path; read on first
  // use. Null when the folder cannot be read.
  const FolderIndex* Index(const std::string& folder);
  // The same for a folder already open as `fd`, read through that handle.
  const FolderIndex* Index(const std::string& folder, int fd);
  // Records a name this command created in a folder it has read.
  void Remember(const std::string& folder, const std::string& name, unsigned char type);

 private:
  std::string root_;
  std::unordered_map<std::string, std::optional<FolderIndex>> folders_;
};

}  // namespace velmora

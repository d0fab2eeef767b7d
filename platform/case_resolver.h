#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/game_folder.h"
#include "platform/posix/status.h"

namespace velmora {

// Finds names below the game folder the way Windows does, ignoring letter
// case, on a file system that does not. Each folder is read once and
// remembered, so a resolver should live for one command only.
class CaseResolver {
 public:
  // What one read of a folder found: names with their kind (a dirent d_type).
  // The names read are kept packed in one buffer, sorted once, and looked up
  // exactly by bisection; the index that finds a name in another letter case
  // is made only when an exact look-up first misses, since a repeated run
  // finds nearly every name as it is.
  class FolderIndex {
   public:
    // A name read from the folder; Listed() once all are in.
    void AddRead(std::string_view name, unsigned char type);
    void Listed();
    // Also records a name this command created in the folder.
    void Add(std::string name, unsigned char type);
    // The exact name if present; otherwise the first name in byte order that
    // equals it ignoring case.
    std::optional<std::string> Find(std::string_view name) const;
    // Every name with its kind, in byte order; valid while nothing is added.
    std::vector<std::pair<std::string_view, unsigned char>> Sorted() const;
    // Hands every name with its kind to `take`, in no order: for a look at
    // each name that needs no order, without sorting them all.
    template <typename Take>
    void ForEach(Take take) const {
      for (const Slot& slot : read_) take(NameOf(slot), slot.type);
      for (const auto& [name, type] : added_) take(std::string_view(name), type);
    }
    // The kind of a name present exactly so.
    unsigned char TypeOf(std::string_view name) const;

   private:
    struct Slot {
      std::uint32_t offset;
      std::uint32_t length;
      unsigned char type;
    };
    std::string_view NameOf(const Slot& slot) const { return std::string_view(names_).substr(slot.offset, slot.length); }
    // The slot of a name read exactly so, or null.
    const Slot* ReadSlot(std::string_view name) const;
    // Notes a name under its uppercase form, where that index is made.
    void AddUpper(std::string_view name) const;
    void MakeUpper() const;

    // Looked up by std::string_view as well, without making a string.
    struct Hash {
      using is_transparent = void;
      std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::string names_;         // the names read, one after another
    std::vector<Slot> read_;    // in byte order of their names, once listed
    std::unordered_map<std::string, unsigned char, Hash, std::equal_to<>> added_;  // created since
    // Every name's uppercase form to its first spelling in byte order; made
    // on the first look-up that misses.
    mutable std::optional<std::unordered_map<std::string, std::string, Hash, std::equal_to<>>> by_upper_name_;
  };

  struct Resolved {
    std::string path;  // the operating system's path
    bool exists;
    bool through_link = false;  // a folder on the way is a symbolic link
    bool is_link = false;       // the last name is a symbolic link
    Status failure;             // why a folder on the way could not be read
    // Why the path is not there: the folder that could not be read, else
    // the name that is missing.
    Status Missing() const { return failure.ok() ? Status("open", ENOENT) : failure; }
  };

  explicit CaseResolver(std::string root) : root_(std::move(root)) {}

  // Resolves each name in turn. From the first name that does not exist on,
  // names keep the spelling given.
  Resolved Resolve(const GamePath& path);
  // The index of a folder given by its operating system path; read on first
  // use. Null when the folder cannot be read; a failure for want of
  // descriptors is not remembered, so the next call tries again.
  Result<FolderIndex*> Index(const std::string& folder);
  // The same for a folder already open as `fd`, read through that handle.
  Result<FolderIndex*> Index(const std::string& folder, int fd);
  // Drops what was read of a folder; it is read again on next use.
  void Forget(const std::string& folder) { folders_.erase(folder); }

 private:
  // One read of a folder: its index, or why it could not be read.
  struct FolderRead {
    std::optional<FolderIndex> index;
    Status failure;
  };
  std::string root_;
  std::unordered_map<std::string, FolderRead> folders_;
};

}  // namespace velmora

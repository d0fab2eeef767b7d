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
  // What one read of a folder found, and the names this command created in
  // it since: each name with its kind (a dirent d_type). The names are kept
  // packed in one buffer, about 30 bytes a name with their tables, and found
  // exactly through a hash table of their slots; the table that finds a name
  // in another letter case is made only when an exact look-up first misses,
  // since a repeated run finds nearly every name as it is. Nothing is sorted
  // unless the names are asked for in order.
  class FolderIndex {
   public:
    // A name read from the folder, or one this command created in it.
    void AddRead(std::string_view name, unsigned char type) { Insert(name, type); }
    void Add(std::string_view name, unsigned char type);
    // The exact name if present; otherwise the first name in byte order that
    // equals it ignoring case.
    std::optional<std::string> Find(std::string_view name) const;
    // Hands every name with its kind to `take` in byte order; nothing may be
    // added meanwhile.
    void ForEachSorted(const std::function<void(std::string_view, unsigned char)>& take) const;
    // Hands every name with its kind to `take`, in no order: for a look at
    // each name that needs no order, without sorting them all.
    template <typename Take>
    void ForEach(Take take) const {
      for (const Slot& slot : slots_) take(NameOf(slot), slot.type);
    }
    // The kind of a name present exactly so.
    unsigned char TypeOf(std::string_view name) const;

   private:
    struct Slot {
      std::uint32_t offset;
      std::uint16_t length;
      unsigned char type;
    };
    // Open addressing over slot numbers plus one (0: empty), a power of two
    // at most half full.
    using Table = std::vector<std::uint32_t>;
    std::string_view NameOf(const Slot& slot) const { return std::string_view(names_).substr(slot.offset, slot.length); }
    std::string_view NameOf(std::uint32_t number) const { return NameOf(slots_[number - 1]); }
    void Insert(std::string_view name, unsigned char type);
    // The slot of a name present exactly so, or null.
    const Slot* ExactSlot(std::string_view name) const;
    // Places slot `number` in the table of letter cases, where that is made.
    void AddUpper(std::uint32_t number) const;
    void MakeUpper() const;
    void Grow(Table& table, bool upper) const;

    std::string names_;  // the names, one after another
    std::vector<Slot> slots_;
    Table exact_;
    // By uppercase form, the first spelling in byte order; made on the first
    // look-up that misses.
    mutable Table by_upper_;
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
  // Whether a folder's index is held, read or failed.
  bool Holds(const std::string& folder) const { return folders_.count(folder) > 0; }
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

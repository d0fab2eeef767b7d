#pragma once

// A record, kept in the user's cache, of the files a command found to be
// exact copies of their sources by comparing their bytes: a later command
// that finds both files as they were then trusts the record and reads
// neither. A repeated run otherwise reads every pits file twice, its source
// and its copy, and from a cold disk that is most of its time.
//
// "As they were" is the inode, size, modification time and change time of
// both. Nothing can set a change time back on the disks this is kept for
// (Linux's own file systems; not FUSE, not FAT), so a file written since
// has a later one. Only a file changed at least a timestamp's grain before
// it was looked at is recorded: one changed in the grain it was looked in
// could change again without its change time moving. And the record holds
// only until the system restarts: bytes written in place just before a
// power cut may reach the disk while the change time that went with them
// does not.
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

class KnownCopies {
 public:
  // The record of the copies below `root`, kept under `cache_folder`, for
  // the system's run `boot`; nothing is kept when either is empty. `since`
  // is a moment before any file is looked at.
  KnownCopies(const std::string& cache_folder, const std::string& root, std::string boot, timespec since);
  // The record of the user's cache ($XDG_CACHE_HOME, else ~/.cache), as of now.
  static KnownCopies ForUser(const std::string& root);

  // True when the record says `copy` (open, of status `copy_status`) holds
  // the same bytes as `source`, both being as they were when it was recorded.
  bool Vouches(const struct stat& source_status, const struct stat& copy_status);
  // Records that the open `copy` was found to hold the bytes of the open
  // `source`, of the statuses given.
  void Confirm(int source, const struct stat& source_status, int copy, const struct stat& copy_status);
  // Writes what this command vouched for and confirmed, replacing the old
  // record; the rest is forgotten. Nothing is written when that is what the
  // record holds already.
  void Save();

 private:
  struct Seen {
    std::uint64_t device, inode, size, modified, changed;
    bool operator==(const Seen&) const = default;
  };
  struct Pair {
    Seen source, copy;
    bool operator==(const Pair&) const = default;
  };
  static_assert(sizeof(Pair) == 80, "the record's entries are written as they lie in memory");
  using Key = std::pair<std::uint64_t, std::uint64_t>;  // the copy's device and inode

  static Seen SeenOf(const struct stat& status);
  static Key KeyOf(const Seen& copy) { return {copy.device, copy.inode}; }
  // What a record for this boot begins with, but for its count.
  std::vector<char> Head() const;
  bool Settled(const struct stat& status) const;
  bool Trusted(int fd, dev_t device);
  void Load();

  const std::string file_;
  const std::string boot_;
  const std::int64_t settled_before_;  // nanoseconds since the epoch
  std::mutex mutex_;
  bool loaded_ = false, asked_ = false;
  std::map<Key, Pair> recorded_, kept_;
  std::map<dev_t, bool> trusted_devices_;
};

}  // namespace velmora

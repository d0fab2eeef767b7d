#pragma once

// The game finder's one way to the disk, alike on both systems. Paths are
// UTF-8 strings in the system's own form. It counts what it opens and reads,
// and opens nothing more once its share is spent, so that a home of any
// size costs a search little; only regular files are read, without
// blocking, each into one buffer kept for every read.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// `folder` and `name` joined with the system's separator.
std::string JoinPath(std::string_view folder, std::string_view name);
// The folder a path lies in, and its last name ("/" and "\\" both separate
// on Windows); a trailing separator is passed over.
std::string ParentOf(std::string_view path);
std::string NameOf(std::string_view path);
// A path's names, its root first ("/", "C:").
std::vector<std::string> NamesOf(std::string_view path);

struct FolderEntry {
  std::string name;
  bool is_folder;  // links followed
};

class FinderDisk {
 public:
  struct Share {
    int folders = 400;                     // folders opened
    int files = 6000;                      // files read
    std::size_t file_size = 256 * 1024;    // bytes read of one file at most
  };
  FinderDisk() : FinderDisk(Share{}) {}
  explicit FinderDisk(Share share) : share_(share) {}

  // The entries of `folder`; none when it cannot be listed or the share of
  // folders is spent. Only a folder that opens counts.
  std::vector<FolderEntry> List(const std::string& folder);
  // The start of a regular file, at most the share's file size, valid until
  // the next Read; empty when it is not a regular file, cannot be read, or
  // the share of files is spent.
  std::string_view Read(const std::string& file);
  bool IsFolder(const std::string& path) const;
  bool IsFile(const std::string& path) const;
  // The same for every path of one file or folder that exists (links
  // followed; on Windows, letter case folded); else the path itself.
  std::string Identity(const std::string& path) const;
  bool SameFile(const std::string& a, const std::string& b) const {
    return !a.empty() && !b.empty() && Identity(a) == Identity(b);
  }
  // No folder is opened any more.
  bool Spent() const { return folders_opened_ >= share_.folders; }

  int folders_opened() const { return folders_opened_; }
  int files_read() const { return files_read_; }
  std::size_t bytes_read() const { return bytes_read_; }

 private:
  Share share_;
  int folders_opened_ = 0;
  int files_read_ = 0;
  std::size_t bytes_read_ = 0;
  std::string buffer_;
};

}  // namespace velmora

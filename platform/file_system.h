#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failures.h"
#include "platform/game_folder.h"

#ifdef CopyFile
#undef CopyFile  // <windows.h> makes it a macro for CopyFileA or CopyFileW
#endif

namespace velmora {

enum class EntryKind { kFile, kFolder, kOther };

struct Entry {
  std::string name;
  EntryKind kind;
  bool hidden;  // hidden or system file; on Linux a name beginning with "."
};

enum class Replace { kNo, kYes };

// Bytes of copies written so far, and of copies that have their names: the
// threads writing and naming add, any thread may read while they do.
struct CopyCounters {
  std::atomic<std::uint64_t> written{0};
  std::atomic<std::uint64_t> named{0};
};

// The commands' one way to the disk: every path lies below the game folder.
// Abstract so that tests can make a single call fail.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The entries of a folder, sorted by name. Names that are not safe single
  // names and links to files are left out; a link to a folder is listed as
  // the folder (on Linux). Empty when it cannot be read, or when a link on
  // the way leads back to a folder passed before, with the cause.
  virtual Found<std::vector<Entry>> List(const GamePath& folder) = 0;
  // The same entries handed to `take` one by one, in the same order, without
  // a copy of them all: a folder of a million names costs little more than
  // its own index.
  using EntryTaker = std::function<void(std::string_view name, EntryKind kind, bool hidden)>;
  virtual FileResult ListEach(const GamePath& folder, const EntryTaker& take) {
    const Found<std::vector<Entry>> entries = List(folder);
    if (!entries) return entries.cause;
    for (const Entry& entry : *entries) take(entry.name, entry.kind, entry.hidden);
    return {};
  }
  // Creates one folder; its parent must exist. Cause::kAlreadyThere when it
  // is there already.
  virtual FileResult CreateFolder(const GamePath& folder) = 0;
  // Copies a file under its own name into an existing folder, keeping its
  // modification time and permission bits. The target name only ever holds
  // the complete copy. With Replace::kNo an entry of that name already there
  // (any letter case, any kind, a link too) is left alone: a file gives
  // Cause::kAlreadyThere, a folder or a link Cause::kNameTaken. Once the
  // source is open, the copy may be written on another thread and get its
  // name later (on Linux once a batch of copies is on the disk), at the
  // latest by Settle(), which tells a copy that failed then, or whose name
  // was taken meanwhile.
  virtual FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) = 0;
  // Returns once every copy handed on is written and named, or has failed:
  // the failures since the last call, each under the path of the file that
  // was to be written.
  virtual std::vector<Failure> Settle() { return {}; }
  // How far the copies handed on have come; null where nobody counts.
  virtual const CopyCounters* Counters() const { return nullptr; }
  // The size of an existing file (not a folder); empty for anything else.
  virtual std::optional<std::uint64_t> FileSize(const GamePath& file) = 0;
  // True for an existing file (not a folder).
  bool FileExists(const GamePath& file) { return FileSize(file).has_value(); }
  // The whole content, or empty when any part of it cannot be read, or when
  // it is written to while it is read (on Linux, after a second try), with
  // the cause.
  virtual Found<std::string> ReadFile(const GamePath& file) = 0;
  // Hands a file's content over piece by piece: each piece to `put`, which
  // returns false once writing has failed; false when the content is not
  // all there.
  using Pieces = std::function<bool(const std::function<bool(std::string_view piece)>& put)>;
  // Gives the file the content `pieces` hands over, written as it comes,
  // entirely or not at all: the old file stays as it was on any failure. A
  // read-only file is not replaced.
  virtual FileResult WriteFile(const GamePath& file, const Pieces& pieces) = 0;
  // The same, for content at hand.
  FileResult WriteFile(const GamePath& file, std::string_view content) {
    return WriteFile(file, [content](const auto& put) { return put(content); });
  }
  // The operating system's path of an existing entry.
  virtual std::optional<std::string> NativePath(const GamePath& path) = 0;
  // `path` as the disk spells it: its first `found` names as they are
  // there, the rest, from the first that does not exist, as given.
  struct Spelled {
    GamePath names;
    std::size_t found = 0;
  };
  virtual Spelled AsOnDisk(const GamePath& path) { return {path, 0}; }
  // Where `path` leads when it is a link to nothing (a disk not mounted).
  virtual std::optional<std::string> LinkToNowhere(const GamePath& /*path*/) { return std::nullopt; }
  // True where the game itself finds a name in `folder` only in its own
  // spelling (a Windows folder made case-sensitive); not on Linux, where
  // the game's Wine ignores letter case.
  virtual bool CaseSensitive(const GamePath& /*folder*/) { return false; }
  // Tells that the command is done with `folder`: what was learnt about the
  // names in it may go, so that memory stays flat however many folders a
  // command goes through. A folder used again is read again.
  virtual void DoneWith(const GamePath& /*folder*/) {}
};

// The real file system below the game folder. Each command opens its own
// and drops it when it ends; what it learnt about folders goes with it.
std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game);
using FileSystemOpener = std::function<std::unique_ptr<FileSystem>(const GameFolder&)>;

// Lets the process hold as many files open as the system allows it (on
// Linux, the soft limit raised to the hard one), so that copies wait for
// their flush in large batches. Called once at start.
void RaiseOpenFileLimit();

// Forwards every call; a test overrides the one call it wants to fail.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}
  Found<std::vector<Entry>> List(const GamePath& folder) override { return target_.List(folder); }
  FileResult CreateFolder(const GamePath& folder) override { return target_.CreateFolder(folder); }
  FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    return target_.CopyFile(source, target_folder, replace);
  }
  std::vector<Failure> Settle() override { return target_.Settle(); }
  const CopyCounters* Counters() const override { return target_.Counters(); }
  std::optional<std::uint64_t> FileSize(const GamePath& file) override { return target_.FileSize(file); }
  Found<std::string> ReadFile(const GamePath& file) override { return target_.ReadFile(file); }
  using FileSystem::WriteFile;
  FileResult WriteFile(const GamePath& file, const Pieces& pieces) override {
    return target_.WriteFile(file, pieces);
  }
  std::optional<std::string> NativePath(const GamePath& path) override {
    return target_.NativePath(path);
  }
  Spelled AsOnDisk(const GamePath& path) override { return target_.AsOnDisk(path); }
  std::optional<std::string> LinkToNowhere(const GamePath& path) override { return target_.LinkToNowhere(path); }
  bool CaseSensitive(const GamePath& folder) override { return target_.CaseSensitive(folder); }
  void DoneWith(const GamePath& folder) override { target_.DoneWith(folder); }

 private:
  FileSystem& target_;
};

}  // namespace velmora

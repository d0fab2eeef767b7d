// The file system below the game folder on Linux and other POSIX systems,
// where names are case-sensitive: every name is found through CaseResolver,
// ignoring letter case as Windows does. Reads follow the folders a player
// linked (SourceFiles); writes go through folders held open from the game
// folder down (WriteFolders), into hidden temporaries or unnamed files that
// get their names only once their data is on the disk (DurableBatch), the
// copies written beside this thread (CopyWriter).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/case_resolver.h"
#include "platform/file_system.h"
#include "platform/piece_buffer.h"
#include "platform/posix/clone_capability.h"
#include "platform/posix/copy_data.h"
#include "platform/posix/copy_writer.h"
#include "platform/posix/durable_batch.h"
#include "platform/posix/known_copies.h"
#include "platform/posix/long_paths.h"
#include "platform/posix/process_limits.h"
#include "platform/posix/source_files.h"
#include "platform/posix/status.h"
#include "platform/posix/temporaries.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/write_folders.h"

namespace velmora {
namespace {

// A file system without permission bits (FAT, exFAT through FUSE) refuses a
// mode change; the file is written all the same.
bool ModesUnsupported(const Status& status) {
  return status.code() == ENOSYS || status.code() == EOPNOTSUPP || status.code() == EPERM;
}

// Read-only for this user: the owner's write bit is off (which decides for
// root, who may write anything, as the read-only attribute does on Windows),
// or this user may not write the file for any other reason.
bool IsReadOnly(int folder, const std::string& name, const struct stat& st) {
  return !(st.st_mode & S_IWUSR) || faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0;
}

// The call that made a replacement durable: the file is in place when it fails.
constexpr const char* kFolderFlush = "fsync(folder)";

GamePath Parent(const GamePath& path) { return GamePath(path.begin(), path.end() - 1); }

// Writes what `pieces` hands over to `out`.
Status WritePieces(int out, const FileSystem::Pieces& pieces) {
  Status failure;
  PieceBuffer buffer([&](std::string_view data) {
    if (WriteAll(out, data.data(), data.size())) return true;
    failure = Status::Failed("write");
    return false;
  });
  const bool whole = pieces([&](std::string_view piece) { return buffer.Put(piece); }) && buffer.Drain();
  if (!failure.ok()) return failure;
  return whole ? Status() : Status("write", EIO);
}

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const GameFolder& game) : PosixFileSystem(game, FreeDescriptors()) {}

  // Half the free descriptors for the copies waiting for their flush, a
  // quarter for the folders kept open.
  PosixFileSystem(const GameFolder& game, std::size_t free_descriptors)
      : root_(game.Root()),
        resolver_(root_),
        folders_(root_, resolver_, std::max<std::size_t>(free_descriptors / 4, 1)),
        sources_(resolver_),
        known_(KnownCopies::ForUser(root_)),
        batch_(DurableBatch::LimitsFor(free_descriptors / 2), &late_, &counters_.named),
        writer_(free_descriptors, ProcessUmask(), batch_, late_, counters_, known_) {}

  // Pending copies are written and get their names before the command ends.
  ~PosixFileSystem() override {
    writer_.Drain();
    batch_.Flush();
    known_.Save();
  }

  Found<std::vector<Entry>> List(const GamePath& folder) override {
    std::vector<Entry> entries;
    const FileResult listed = ListEach(folder, [&](std::string_view name, EntryKind kind, bool hidden) {
      entries.push_back({std::string(name), kind, hidden});
    });
    if (!listed) return listed.cause;
    return entries;
  }
  FileResult ListEach(const GamePath& folder, const EntryTaker& take) override {
    // A folder that could not be read has handed over nothing yet.
    return CauseOf(WithDescriptors([&] { return ListOnce(folder, take); }));
  }
  FileResult CreateFolder(const GamePath& folder) override {
    const Status made = WithDescriptors([&] { return CreateFolderOnce(folder); });
    if (made.code() == ENOTDIR) return Cause::kNameTaken;
    return made.code() == EEXIST ? Cause::kAlreadyThere : CauseOf(made);
  }
  FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    Cause cause = Cause::kNone;
    const Status status = WithDescriptors([&] { return CopyFileOnce(source, target_folder, replace, cause); });
    return status.ok() ? Cause::kNone : cause;
  }
  std::vector<Failure> Settle() override {
    writer_.Drain();
    batch_.Flush();
    if (const std::size_t untold = writer_.Unrecorded()) throw UntoldFailures(untold);
    return late_.Take();
  }
  const CopyCounters* Counters() const override { return &counters_; }
  Found<std::string> ReadFile(const GamePath& file) override {
    Result<std::string> content = WithDescriptors([&] { return ReadFileOnce(file); });
    if (!content) return CauseOfRead(content.status());
    return std::move(*content);
  }
  using FileSystem::WriteFile;
  FileResult WriteFile(const GamePath& file, const Pieces& pieces) override {
    const Status written = WithDescriptors([&] { return WriteFileOnce(file, pieces); });
    if (!written.ok() && std::string_view(written.call()) == kFolderFlush) return Cause::kNotFlushed;
    return CauseOf(written);
  }

  std::optional<std::uint64_t> FileSize(const GamePath& file) override {
    struct stat st;
    if (file.empty() || !sources_.StatFollowing(file, st) || !S_ISREG(st.st_mode)) return std::nullopt;
    return std::uint64_t(st.st_size);
  }

  // A copy still waiting for its name is no longer among the names then:
  // were the folder written into again, a second copy of it would find the
  // name taken when it is named, and be told as already there.
  void DoneWith(const GamePath& folder) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(folder);
    if (resolved.exists) folders_.ForgetIndex(resolved.path);
  }

  std::optional<std::string> NativePath(const GamePath& path) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(path);
    if (!resolved.exists) return std::nullopt;
    return resolved.path;
  }

  std::optional<std::string> LinkToNowhere(const GamePath& path) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(path);
    struct stat st;
    if (!resolved.exists || !resolved.is_link || stat(resolved.path.c_str(), &st) == 0) return std::nullopt;
    std::string target(PATH_MAX, '\0');
    const ssize_t got = readlink(resolved.path.c_str(), target.data(), target.size());
    if (got <= 0) return std::nullopt;
    target.resize(std::size_t(got));
    return target;
  }

  Spelled AsOnDisk(const GamePath& path) override {
    Spelled spelled{{}, 0};
    for (const std::string& name : path) {
      spelled.names.push_back(name);
      const CaseResolver::Resolved resolved = resolver_.Resolve(spelled.names);
      if (!resolved.exists) {
        spelled.names.insert(spelled.names.end(), path.begin() + std::ptrdiff_t(spelled.names.size()), path.end());
        break;
      }
      spelled.names.back() = resolved.path.substr(resolved.path.rfind('/') + 1);
      ++spelled.found;
    }
    return spelled;
  }

 private:
  // Runs `operation` again once when it failed for want of descriptors,
  // after giving back those this object holds: the waiting copies are
  // flushed and named, and the folders kept open are closed.
  template <typename Operation>
  std::invoke_result_t<Operation> WithDescriptors(Operation operation) {
    auto result = operation();
    if (result.ok() || !FailureOf(result).OutOfDescriptors()) return result;
    writer_.Drain();
    batch_.Flush();
    folders_.CloseAll();
    sources_.Close();
    return operation();
  }
  static const Status& FailureOf(const Status& status) { return status; }
  template <typename T>
  static const Status& FailureOf(const Result<T>& result) { return result.status(); }

  Status ListOnce(const GamePath& folder, const EntryTaker& take) {
    const CaseResolver::Resolved resolved = resolver_.Resolve(folder);
    if (!resolved.exists) return resolved.Missing();
    if (GoesRoundInALoop(root_, resolved.path)) return Status("open", ELOOP);
    const bool read_before = resolver_.Holds(resolved.path);
    const Result<CaseResolver::FolderIndex*> index = resolver_.Index(resolved.path);
    if (!index) return index.status();
    bool folders = false;
    (*index)->ForEachSorted([&](std::string_view name, unsigned char type) {
      const EntryKind kind = KindOf(resolved.path, name, type);
      folders |= kind == EntryKind::kFolder;
      if (kind != EntryKind::kOther && IsSafeName(name)) take(name, kind, name.front() == '.');
    });
    // A folder of files only, read for this listing, is done with once
    // listed: its files are opened by the names listed, and a folder of many
    // thousands should not be held twice, indexed and listed. One with
    // folders in it stays, for the walk into them, and so does one read
    // before, which may hold names this command created.
    if (!folders && !read_before) folders_.ForgetIndex(resolved.path);
    return Status();
  }

  Status CreateFolderOnce(const GamePath& folder) {
    if (folder.empty()) return Status("mkdirat", EINVAL);
    const Result<WriteFolders::Indexed> parent = folders_.OpenWithIndex(Parent(folder));
    if (!parent) return parent.status();
    if (const std::optional<std::string> there = parent->index->Find(folder.back())) {
      // A file in its place takes its name; a folder, or a link the writes
      // will refuse, is there already.
      struct stat st;
      const bool file = fstatat(parent->folder.fd->get(), there->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                        !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode);
      return Status("mkdirat", file ? ENOTDIR : EEXIST);
    }
    if (mkdirat(parent->folder.fd->get(), folder.back().c_str(), 0777) != 0) return Status::Failed("mkdirat");
    parent->index->Add(folder.back(), DT_DIR);
    return Status();
  }

  // Sets `cause` to what a failure means to the player.
  Status CopyFileOnce(const GamePath& source, const GamePath& target_folder, Replace replace, Cause& cause) {
    cause = Cause::kOther;
    if (source.empty()) return Status("open", EINVAL);
    const Result<WriteFolders::Indexed> target = folders_.OpenWithIndex(target_folder);
    if (!target) {
      cause = CauseOf(target.status());
      return target.status();
    }
    const OpenFolder& into = target->folder;
    CaseResolver::FolderIndex& index = *target->index;
    sweep_.SweepOnce(into.path, into.fd->get(), index);
    const std::optional<std::string> existing = index.Find(source.back());
    if (existing && replace == Replace::kNo) {
      // The folder's listing says what the name is (and a copy this command
      // made, which may still wait for its name, is known as a file): only
      // a kind the listing could not tell is asked of the disk. Either way
      // the entry is left alone.
      bool file = false;
      switch (index.TypeOf(*existing)) {
        case DT_REG:
          file = true;
          break;
        case DT_UNKNOWN: {
          struct stat there;
          file = fstatat(into.fd->get(), existing->c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(there.st_mode);
          break;
        }
        default:  // a folder, a link, a device: the name is taken
          break;
      }
      cause = file ? Cause::kAlreadyThere : Cause::kNameTaken;
      return Status("linkat", EEXIST);
    }
    std::string name = existing.value_or(source.back());

    struct stat st;
    Result<UniqueFd> in = sources_.Open(source, st);
    if (!in) {
      cause = CauseOfSource(in.status());
      return in.status();
    }
    std::atomic<bool>& clone = clones_.For(st.st_dev, into.device);
    // The rest is written beside this thread; a copy that fails there
    // leaves nothing, as one that fails here.
    index.Add(name, DT_REG);
    GamePath written = target_folder;
    written.push_back(source.back());
    // A file it replaces may be its exact copy already (a repeated run meets
    // many such): that is found out beside this thread, where the reads of
    // several files are in flight at once.
    writer_.Post({std::move(*in), st, into.fd, into.device, std::move(name), replace, existing.has_value(), &clone,
                  into.flush_alone, into.no_journal, std::move(written)});
    return Status();
  }

  Result<std::string> ReadFileOnce(const GamePath& file) {
    const CaseResolver::Resolved resolved = resolver_.Resolve(file);
    if (!resolved.exists) return resolved.Missing();
    struct stat st;
    const Result<UniqueFd> fd = OpenRegularPath(resolved.path, 0, st);
    if (!fd) return fd.status();
    return ReadUnchanged(fd->get(), st);
  }

  Status WriteFileOnce(const GamePath& file, const Pieces& pieces) {
    if (file.empty()) return Status("openat", EINVAL);
    const Result<WriteFolders::Indexed> parent = folders_.OpenWithIndex(Parent(file));
    if (!parent) return parent.status();
    CaseResolver::FolderIndex& index = *parent->index;
    const int folder = parent->folder.fd->get();
    sweep_.SweepOnce(parent->folder.path, folder, index);
    const std::string name = index.Find(file.back()).value_or(file.back());
    struct stat old;
    const bool replacing = fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing && S_ISDIR(old.st_mode)) return Status("renameat", EISDIR);
    if (replacing && S_ISREG(old.st_mode) && IsReadOnly(folder, name, old)) return Status("renameat", EACCES);
    std::string temporary;
    Result<UniqueFd> out = CreateTemporary(folder, temporary);
    if (!out) return out.status();
    const mode_t mode = replacing && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0666 & ~ProcessUmask();
    // Named before it is closed, so that it is never a temporary nobody holds.
    Status written = WriteNamed(out->get(), pieces, mode, folder, temporary, name);
    out->Close();
    if (!written.ok()) {
      unlinkat(folder, temporary.c_str(), 0);
      return written;
    }
    index.Add(name, DT_REG);
    // The rename itself made durable: the new file is in place, but a
    // flush that fails leaves it at the mercy of a power cut.
    if (fsync(folder) != 0) return Status::Failed(kFolderFlush);
    return Status();
  }

  // Writes the pieces into the open temporary, flushes it and gives it `name`.
  static Status WriteNamed(int out, const Pieces& pieces, mode_t mode, int folder, const std::string& temporary,
                           const std::string& name) {
    if (const Status written = WritePieces(out, pieces); !written.ok()) return written;
    if (fchmod(out, mode) != 0) {
      const Status failure = Status::Failed("fchmod");
      if (!ModesUnsupported(failure)) return failure;
    }
    if (fsync(out) != 0) return Status::Failed("fsync");
    if (renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) return Status::Failed("renameat");
    return Status();
  }

  const std::string root_;
  CaseResolver resolver_;
  WriteFolders folders_;
  SourceFiles sources_;
  TemporarySweep sweep_;
  CloneCapability clones_;
  LateFailures late_;     // told by the writer's helpers and the batch's flush
  CopyCounters counters_;  // added to by the same
  KnownCopies known_;      // the exact copies found, by the same
  DurableBatch batch_;  // flushed before the folders it needs are closed
  CopyWriter writer_;   // last: done writing before anything it uses goes
};

}  // namespace

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<PosixFileSystem>(game);
}

}  // namespace velmora

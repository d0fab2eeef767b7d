// The file system below the game folder on Linux and other POSIX systems,
// where names are case-sensitive: every name is found through CaseResolver,
// ignoring letter case as Windows does.
//
// Reads go by path and follow the folders a player linked (season02 kept on
// another disk, say). Writes never leave the game folder: they go through
// open folder handles, walked from the game folder one name at a time, each
// opened relative to the one before without following a link, and every
// file is created, linked and renamed relative to the handle of the folder
// it lands in. A folder swapped for a link after it was opened cannot send a
// write elsewhere; one swapped before fails to open. This is how systemd's
// chase() and coreutils' fts-based removal walk folders.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/case_resolver.h"
#include "platform/copy_data_posix.h"
#include "platform/durable_batch_posix.h"
#include "platform/file_system.h"
#include "platform/posix_calls.h"
#include "platform/unique_fd.h"
#include "platform/work_sharing.h"

namespace velmora {
namespace {

// A folder open for writing, its path (for the case index and tests) and
// the file system it lies on.
struct OpenFolder {
  std::shared_ptr<const UniqueFd> fd;
  std::string path;
  dev_t device = 0;
};

bool OutOfDescriptors() { return errno == EMFILE || errno == ENFILE; }

// A copy decided on and its source open, waiting to be written.
struct PendingCopy {
  UniqueFd source;
  struct stat status;
  std::shared_ptr<const UniqueFd> folder;  // where it lands
  dev_t device;                            // the file system it lies on
  std::string name;
  Replace replace;
  std::atomic<bool>* clone;  // whether this pair of file systems may still clone
};
using CopyWriters = WorkSharing<PendingCopy>;

// Copies are written by helper threads beside the one deciding on them, one
// fewer than the processors (the flush has its own thread), and only while
// the descriptors they hold stay within an eighth of those free.
std::size_t CopyHelpersFor(std::size_t free_descriptors) {
  const std::size_t processors = std::max(std::thread::hardware_concurrency(), 1u);
  std::size_t helpers = std::min<std::size_t>(processors - 1, 3);
  // Each job holds its source open, and each helper the copy it writes.
  while (helpers > 0 && CopyWriters::MostHeldWith(helpers) + helpers > free_descriptors / 8) --helpers;
  return helpers;
}

// A file system without permission bits (FAT, exFAT through FUSE) refuses a
// mode change; the file is written all the same.
bool ModesUnsupported() { return errno == ENOSYS || errno == EOPNOTSUPP || errno == EPERM; }

// The descriptors this process may still open, less a few kept for the
// source file, the copy being written and a folder being read.
std::size_t FreeDescriptors() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const std::size_t most = limit.rlim_cur == RLIM_INFINITY ? std::size_t(1) << 20 : std::size_t(limit.rlim_cur);
  const std::size_t used = OpenDescriptors() + 8;
  return most > used ? most - used : 1;
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Locks a whole open file for as long as any descriptor of its open file
// description lives: an open file description lock, which neither a second
// open in this process nor a fork drops early.
bool LockWhole(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// A name in `folder` that nothing else uses; it begins with "." so that the
// listings never show it. The file stays locked while it is written: a
// temporary that nobody holds locked is a leftover.
UniqueFd CreateTemporary(int folder, std::string& name) {
  static std::atomic<unsigned> counter{0};
  const std::string prefix = ".velmora-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = prefix + std::to_string(counter++) + ".tmp";
    UniqueFd fd(openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd) LockWhole(fd.get());
    if (fd || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

// Opens a file for reading only when it is a regular file: opened without
// blocking, a pipe or a device cannot hold the command up. `path` is
// relative to the folder `at`.
UniqueFd OpenRegular(int at, const char* path, int extra_flags, struct stat& st) {
  UniqueFd fd(openat(at, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | extra_flags));
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  fcntl(fd.get(), F_SETFL, 0);  // reads of the file itself block as usual
  return fd;
}

// What an entry of a source folder is read as. A link to a folder is read as
// that folder (a circuit kept on another disk); a link to a file is left out.
EntryKind KindOf(const std::string& folder, const std::string& name, unsigned char type) {
  struct stat st;
  const std::string path = folder + "/" + name;
  if (type == DT_UNKNOWN) {
    if (fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::kOther;
    type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
  }
  if (type == DT_LNK) return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? EntryKind::kFolder : EntryKind::kOther;
  return type == DT_REG ? EntryKind::kFile : type == DT_DIR ? EntryKind::kFolder : EntryKind::kOther;
}

// True when a folder is reached twice on the way from the game folder to
// `path`: a link to a folder around it, which would be listed without end.
bool GoesRoundInALoop(const std::string& root, const std::string& path) {
  std::vector<std::size_t> ends{root.size()};
  for (std::size_t at = path.find('/', root.size() + 1); at != std::string::npos; at = path.find('/', at + 1))
    ends.push_back(at);
  if (path.size() > root.size()) ends.push_back(path.size());
  std::set<std::pair<dev_t, ino_t>> seen;
  for (const std::size_t end : ends) {
    struct stat st;
    if (stat(path.substr(0, end).c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) return true;
  }
  return false;
}

bool Unchanged(const struct stat& before, const struct stat& after) {
  return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
         before.st_mtim.tv_nsec == after.st_mtim.tv_nsec && before.st_ctim.tv_sec == after.st_ctim.tv_sec &&
         before.st_ctim.tv_nsec == after.st_ctim.tv_nsec;
}

// Fills `out` with the content of `in`; permission bits and times travel
// along, as with the system's own copy. A source written to while it was
// copied fails: its copy could mix old bytes and new, and a copy that never
// replaces would keep that mix for good; the next run copies it again.
bool FillCopy(int in, const struct stat& st, int out, mode_t created_with, bool& clone) {
  if (!CopyData(in, out, st, clone)) return false;
  if (const auto& told = CurrentPosixFileCalls().data_copied) told(in);
  struct stat after;
  if (fstat(in, &after) != 0 || !Unchanged(st, after)) return false;
  if ((st.st_mode & 07777) != created_with) fchmod(out, st.st_mode & 07777);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out, times);
  return true;
}

bool IsTemporaryName(const std::string& name) {
  unsigned pid = 0;
  int end = 0;
  return sscanf(name.c_str(), ".velmora-%u-%*u.tmp%n", &pid, &end) == 1 && size_t(end) == name.size();
}

// A temporary of ours that no run is writing any more: nobody holds it
// locked. Process ids say nothing here: they repeat, and a run in a PID
// namespace may well have been process 1.
bool IsLeftoverTemporary(int folder, const std::string& name) {
  if (!IsTemporaryName(name)) return false;
  const UniqueFd fd(openat(folder, name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  return fd && LockWhole(fd.get());
}

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const GameFolder& game) : PosixFileSystem(game, FreeDescriptors()) {}

  // Half the free descriptors for the copies waiting for their flush, a
  // quarter for the folders kept open.
  PosixFileSystem(const GameFolder& game, std::size_t free_descriptors)
      : resolver_(game.Root()),
        root_{std::make_shared<UniqueFd>(open(game.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
              game.Root()},
        unnamed_files_(access("/proc/self/fd", X_OK) == 0),
        umask_(CurrentUmask()),
        most_open_folders_(std::max<std::size_t>(free_descriptors / 4, 1)),
        batch_(DurableBatch::LimitsFor(free_descriptors / 2)),
        writers_(CopyHelpersFor(free_descriptors), [this](PendingCopy& copy) { WriteCopy(copy); }) {
    struct stat st;
    if (*root_.fd && fstat(root_.fd->get(), &st) == 0) root_.device = st.st_dev;
  }

  // Pending copies are written and get their names before the command ends.
  ~PosixFileSystem() override {
    writers_.Drain();
    batch_.Flush();
  }

  std::optional<std::vector<Entry>> List(const GamePath& folder) override {
    return WithDescriptors([&] { return ListOnce(folder); });
  }
  bool CreateFolder(const GamePath& folder) override {
    return WithDescriptors([&] { return CreateFolderOnce(folder); });
  }
  bool CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    return WithDescriptors([&] { return CopyFileOnce(source, target_folder, replace); });
  }
  std::optional<std::string> ReadFile(const GamePath& file) override {
    return WithDescriptors([&] { return ReadFileOnce(file); });
  }
  bool WriteFile(const GamePath& file, std::string_view content) override {
    return WithDescriptors([&] { return WriteFileOnce(file, content); });
  }

  bool FileExists(const GamePath& file) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(file);
    struct stat st;
    return resolved.exists && stat(resolved.path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::optional<std::string> NativePath(const GamePath& path) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(path);
    if (!resolved.exists) return std::nullopt;
    return resolved.path;
  }

 private:
  // Runs `operation` again once when it failed for want of descriptors,
  // after giving back those this object holds: the waiting copies are
  // flushed and named, and the folders kept open are closed.
  template <typename Operation>
  std::invoke_result_t<Operation> WithDescriptors(Operation operation) {
    errno = 0;
    auto result = operation();
    if (!result && OutOfDescriptors()) {
      writers_.Drain();
      batch_.Flush();
      CloseFolders();
      errno = 0;
      result = operation();
    }
    return result;
  }

  std::optional<std::vector<Entry>> ListOnce(const GamePath& folder) {
    const CaseResolver::Resolved resolved = resolver_.Resolve(folder);
    if (!resolved.exists || GoesRoundInALoop(root_.path, resolved.path)) return std::nullopt;
    const CaseResolver::FolderIndex* index = resolver_.Index(resolved.path);
    if (!index) return std::nullopt;
    std::vector<Entry> entries;
    for (const auto& [name, type] : index->Sorted()) {
      const std::string owned(name);
      const EntryKind kind = KindOf(resolved.path, owned, type);
      if (kind != EntryKind::kOther && IsSafeName(owned))
        entries.push_back({owned, kind, owned.front() == '.'});
    }
    return entries;
  }

  bool CreateFolderOnce(const GamePath& folder) {
    if (folder.empty()) return false;
    const std::optional<OpenFolder> parent = OpenForWriting(Parent(folder));
    CaseResolver::FolderIndex* index = parent ? IndexOf(*parent) : nullptr;
    if (!index || index->Find(folder.back()) || mkdirat(parent->fd->get(), folder.back().c_str(), 0777) != 0)
      return false;
    index->Add(folder.back(), DT_DIR);
    return true;
  }

  bool CopyFileOnce(const GamePath& source, const GamePath& target_folder, Replace replace) {
    if (source.empty()) return false;
    const std::optional<OpenFolder> into = OpenForWriting(target_folder);
    CaseResolver::FolderIndex* index = into ? IndexOf(*into) : nullptr;
    if (!index) return false;
    SweepStaleTemporaries(*into, *index);
    const std::optional<std::string> existing = index->Find(source.back());
    if (existing && replace == Replace::kNo) return false;
    std::string name = existing.value_or(source.back());

    struct stat st;
    UniqueFd in = OpenSource(source, st);
    if (!in) return false;
    // Replacing a file with its own exact copy would change nothing on disk
    // but cost a new file; a repeated run meets many such.
    if (existing && IsExactCopy(in.get(), st, into->fd->get(), name)) return true;
    // Asked once for each pair of file systems whether they can clone.
    std::atomic<bool>& clone = can_clone_.try_emplace({st.st_dev, into->device}, true).first->second;
    // The rest is written beside this thread; a copy that fails there
    // leaves nothing, as one that fails here.
    index->Add(name, DT_REG);
    writers_.Post({std::move(in), st, into->fd, into->device, std::move(name), replace, &clone});
    return true;
  }

  // Writes a copy and hands it to the batch; on any thread.
  void WriteCopy(PendingCopy& pending) {
    const int folder = pending.folder->get();
    DurableBatch::Copy copy{UniqueFd(), pending.folder, pending.device, "", std::move(pending.name), pending.replace};
    mode_t created_with = CreateCopy(pending, copy);
    if (!copy.file && OutOfDescriptors()) {
      batch_.Flush();  // gives back the descriptors of the copies waiting
      created_with = CreateCopy(pending, copy);
    }
    if (!copy.file) return;
    bool clone = pending.clone->load(std::memory_order_relaxed);
    const bool filled = FillCopy(pending.source.get(), pending.status, copy.file.get(), created_with, clone);
    if (!clone) pending.clone->store(false, std::memory_order_relaxed);
    pending.source.Close();
    // What the flush will write: a file's holes cost it nothing.
    const off_t data = std::min<off_t>(pending.status.st_size, off_t(pending.status.st_blocks) * 512);
    if (filled) batch_.Add(std::move(copy), std::uintmax_t(data));
    else if (!copy.temporary.empty()) unlinkat(folder, copy.temporary.c_str(), 0);
  }

  // Creates the file a copy is written into; returns the permission bits
  // it was created with. A copy that must not replace anything is written
  // into a file without a name where the file system has those: cut short,
  // it leaves nothing. Unnamed, it may well be made with the source's
  // permission bits at once.
  mode_t CreateCopy(const PendingCopy& pending, DurableBatch::Copy& copy) const {
    const int folder = pending.folder->get();
    const mode_t source_mode = pending.status.st_mode & 0777 & ~umask_;
    if (pending.replace == Replace::kNo && unnamed_files_) {
      copy.file = UniqueFd(openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, source_mode));
      if (copy.file) return source_mode;
    }
    copy.file = CreateTemporary(folder, copy.temporary);
    return 0600 & ~umask_;
  }

  std::optional<std::string> ReadFileOnce(const GamePath& file) {
    const CaseResolver::Resolved resolved = resolver_.Resolve(file);
    struct stat st;
    const UniqueFd fd = resolved.exists ? OpenRegular(AT_FDCWD, resolved.path.c_str(), 0, st) : UniqueFd();
    if (!fd) return std::nullopt;
    std::string content;
    content.reserve(size_t(st.st_size));
    char buffer[1 << 16];
    for (;;) {
      const ssize_t got = read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return std::nullopt;
      if (got == 0) return content;
      content.append(buffer, size_t(got));
    }
  }

  bool WriteFileOnce(const GamePath& file, std::string_view content) {
    if (file.empty()) return false;
    const std::optional<OpenFolder> parent = OpenForWriting(Parent(file));
    CaseResolver::FolderIndex* index = parent ? IndexOf(*parent) : nullptr;
    if (!index) return false;
    SweepStaleTemporaries(*parent, *index);
    const int folder = parent->fd->get();
    const std::string name = index->Find(file.back()).value_or(file.back());
    struct stat old;
    const bool replacing = fstatat(folder, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing && (S_ISDIR(old.st_mode) || (S_ISREG(old.st_mode) && IsReadOnly(folder, name, old))))
      return false;
    std::string temporary;
    UniqueFd out = CreateTemporary(folder, temporary);
    if (!out) return false;
    const mode_t mode = replacing && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0666 & ~CurrentUmask();
    // Named before it is closed, so that it is never a temporary nobody holds.
    bool ok = WriteAll(out.get(), content.data(), content.size()) &&
              (fchmod(out.get(), mode) == 0 || ModesUnsupported()) && fsync(out.get()) == 0 &&
              renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
    out.Close();
    if (!ok) {
      unlinkat(folder, temporary.c_str(), 0);
      return false;
    }
    fsync(folder);  // the rename itself made durable
    index->Add(name, DT_REG);
    return true;
  }

  static GamePath Parent(const GamePath& path) { return GamePath(path.begin(), path.end() - 1); }

  // Opens a source file (not a link). Its name comes from its folder's own
  // listing, so it is tried as it stands, through the folder kept open from
  // the file before; only a name in another letter case is looked up. Reads
  // follow the links a player made: the folder is opened by its path.
  UniqueFd OpenSource(const GamePath& source, struct stat& st) {
    const bool same_folder = source_folder_ && source_folder_key_.size() + 1 == source.size() &&
                             std::equal(source_folder_key_.begin(), source_folder_key_.end(), source.begin());
    if (!same_folder) {
      source_folder_key_ = Parent(source);
      const CaseResolver::Resolved folder = resolver_.Resolve(source_folder_key_);
      source_folder_ = UniqueFd(folder.exists ? open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
      if (!source_folder_) return UniqueFd();
    }
    errno = 0;
    UniqueFd in = OpenRegular(source_folder_.get(), source.back().c_str(), O_NOFOLLOW, st);
    if (in || errno != ENOENT) return in;
    const CaseResolver::Resolved file = resolver_.Resolve(source);
    return file.exists ? OpenRegular(AT_FDCWD, file.path.c_str(), O_NOFOLLOW, st) : UniqueFd();
  }

  // Opens a folder below the game folder for writing (see the top of this
  // file). Folders opened once stay open, as many as the limit allows.
  std::optional<OpenFolder> OpenForWriting(const GamePath& folder) {
    if (!*root_.fd) return std::nullopt;
    if (last_open_ && last_open_->first == folder) return last_open_->second;
    OpenFolder at = root_;
    std::string key;
    for (const std::string& name : folder) {
      key += '/' + name;
      if (auto open = open_folders_.find(key); open != open_folders_.end()) {
        at = open->second;
        continue;
      }
      const CaseResolver::FolderIndex* index = IndexOf(at);
      const std::optional<std::string> found = index ? index->Find(name) : std::nullopt;
      if (!found) return std::nullopt;
      auto fd = std::make_shared<UniqueFd>(openat(at.fd->get(), found->c_str(), kFolderFlags));
      struct stat st;
      if (!*fd || fstat(fd->get(), &st) != 0) return std::nullopt;
      at = {std::move(fd), at.path + "/" + *found, st.st_dev};
      if (const auto& told = CurrentPosixFileCalls().folder_opened) told(at.path);
      if (open_folders_.size() >= most_open_folders_) CloseFolders();
      open_folders_.emplace(key, at);
    }
    last_open_.emplace(folder, at);
    return at;
  }

  void CloseFolders() {
    open_folders_.clear();
    last_open_.reset();
    source_folder_.Close();
  }

  CaseResolver::FolderIndex* IndexOf(const OpenFolder& folder) {
    // Most writes go into the folder the write before went into.
    if (!last_index_ || last_index_path_ != folder.path) {
      last_index_ = resolver_.Index(folder.path, folder.fd->get());
      last_index_path_ = folder.path;
    }
    return last_index_;
  }

  // Read-only for this user: the owner's write bit is off (which decides for
  // root, who may write anything, as the read-only attribute does on
  // Windows), or this user may not write the file for any other reason.
  static bool IsReadOnly(int folder, const std::string& name, const struct stat& st) {
    return !(st.st_mode & S_IWUSR) || faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0;
  }

  // A run killed part-way leaves its temporary file behind: the first write
  // into a folder removes those that no run holds any more.
  void SweepStaleTemporaries(const OpenFolder& folder, const CaseResolver::FolderIndex& index) {
    if (!swept_.insert(folder.path).second) return;
    for (const auto& [name, type] : index.Sorted())
      if (IsLeftoverTemporary(folder.fd->get(), std::string(name)))
        unlinkat(folder.fd->get(), std::string(name).c_str(), 0);
  }

  static mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
  }

  CaseResolver resolver_;
  OpenFolder root_;
  bool unnamed_files_;
  mode_t umask_;
  std::size_t most_open_folders_;
  std::map<std::string, OpenFolder> open_folders_;
  std::optional<std::pair<GamePath, OpenFolder>> last_open_;  // the folder last written into
  UniqueFd source_folder_;                                    // the folder last read from
  GamePath source_folder_key_;
  CaseResolver::FolderIndex* last_index_ = nullptr;  // the index of the folder last written into
  std::string last_index_path_;
  std::set<std::string> swept_;
  std::map<std::pair<dev_t, dev_t>, std::atomic<bool>> can_clone_;
  DurableBatch batch_;  // flushed before the folders it needs are closed
  CopyWriters writers_;  // last: done writing before anything they use goes
};

}  // namespace

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error))
    ++count;
  return count;
}

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<PosixFileSystem>(game);
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace velmora

// The file system below the game folder on Linux and other POSIX systems,
// where names are case-sensitive: every name is found through CaseResolver.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <unordered_set>

#include "platform/case_resolver.h"
#include "platform/copy_data_posix.h"
#include "platform/file_system.h"
#include "platform/unique_fd.h"

namespace velmora {
namespace {

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('/')); }
std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// A name in `folder` that nothing else uses; it begins with "." so that the
// listings never show it.
UniqueFd CreateTemporary(const std::string& folder, std::string& path) {
  static std::atomic<unsigned> counter{0};
  // The process id is asked each time: a forked copy must not pass for its parent.
  const std::string prefix = "/.velmora-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = folder + prefix + std::to_string(counter++) + ".tmp";
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

// Gives a complete temporary file its final name, only if that name is free.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  // No renameat2 here: a hard link refuses an existing name just as well.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // No hard links either (FAT): the last check and the rename are not one step.
  struct stat st;
  if (lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
  return rename(from.c_str(), to.c_str()) == 0;
}

EntryKind KindOf(const std::string& folder, const std::string& name, unsigned char type) {
  if (type == DT_UNKNOWN) {
    struct stat st;
    if (fstatat(AT_FDCWD, (folder + "/" + name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return EntryKind::kOther;
    type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
  }
  return type == DT_REG ? EntryKind::kFile : type == DT_DIR ? EntryKind::kFolder : EntryKind::kOther;
}

// Fills `out` with the content of `in`; permission bits and times travel
// along, as with the system's own copy.
bool FillCopy(int in, const struct stat& st, int out) {
  if (!CopyData(in, out, st.st_size)) return false;
  fchmod(out, st.st_mode & 07777);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out, times);
  return true;
}

// Copies into a temporary name beside `target`, then renames it over `target`
// (replacing) or to it only if it is still free.
bool CopyAsideThenRename(int in, const struct stat& st, const std::string& folder, const std::string& target,
                         Replace replace) {
  std::string temporary;
  UniqueFd out = CreateTemporary(folder, temporary);
  if (!out) return false;
  bool ok = FillCopy(in, st, out.get());
  ok = out.Close() && ok;
  ok = ok && (replace == Replace::kYes ? rename(temporary.c_str(), target.c_str()) == 0 : RenameNoReplace(temporary, target));
  if (!ok) unlink(temporary.c_str());
  return ok;
}

// Copies into a file without a name, then gives it `target` only if that name
// is free. A copy cut short leaves nothing behind at all. Where the file
// system has no unnamed files, a temporary name stands in.
bool CopyUnnamedThenLink(int in, const struct stat& st, const std::string& folder, const std::string& target) {
  UniqueFd out(open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (out) {
    if (!FillCopy(in, st, out.get())) return false;
    const std::string self = "/proc/self/fd/" + std::to_string(out.get());
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno == EEXIST || lseek(in, 0, SEEK_SET) != 0) return false;
  }
  return CopyAsideThenRename(in, st, folder, target, Replace::kNo);
}

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(const GameFolder& game) : resolver_(game.Root()) {}

  std::optional<std::vector<Entry>> List(const GamePath& folder) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(folder);
    const CaseResolver::FolderIndex* index = resolved.exists ? resolver_.Index(resolved.path) : nullptr;
    if (!index) return std::nullopt;
    std::vector<Entry> entries;
    for (const auto& [name, type] : index->Entries()) {
      const EntryKind kind = KindOf(resolved.path, name, type);
      if (kind != EntryKind::kOther && IsSafeName(name))
        entries.push_back({name, kind, name.front() == '.'});
    }
    return entries;
  }

  bool CreateFolder(const GamePath& folder) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(folder);
    if (resolved.exists || resolved.through_link || mkdir(resolved.path.c_str(), 0777) != 0) return false;
    resolver_.Remember(Parent(resolved.path), BaseName(resolved.path), DT_DIR);
    return true;
  }

  bool CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    const CaseResolver::Resolved from = resolver_.Resolve(source);
    const CaseResolver::Resolved into = resolver_.Resolve(target_folder);
    // Writing through a linked folder could land outside the game folder.
    const bool linked = into.through_link || into.is_link;
    const CaseResolver::FolderIndex* index = into.exists && !linked ? resolver_.Index(into.path) : nullptr;
    if (!from.exists || !index || source.empty()) return false;
    SweepStaleTemporaries(into.path, *index);
    const std::optional<std::string> existing = index->Find(source.back());
    if (existing && replace == Replace::kNo) return false;
    const std::string name = existing.value_or(source.back());

    UniqueFd in(open(from.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st;
    if (!in || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const std::string target = into.path + "/" + name;
    // Replacing a file with its own exact copy would change nothing on disk
    // but cost a new file; a repeated run meets many such.
    if (existing && IsExactCopy(in.get(), st, target)) return true;
    const bool copied = replace == Replace::kNo ? CopyUnnamedThenLink(in.get(), st, into.path, target)
                                                : CopyAsideThenRename(in.get(), st, into.path, target, replace);
    if (!copied) return false;
    resolver_.Remember(into.path, name, DT_REG);
    return true;
  }

  bool FileExists(const GamePath& file) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(file);
    struct stat st;
    return resolved.exists && stat(resolved.path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  std::optional<std::string> ReadFile(const GamePath& file) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(file);
    UniqueFd fd(resolved.exists ? open(resolved.path.c_str(), O_RDONLY | O_CLOEXEC) : -1);
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
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

  bool WriteFile(const GamePath& file, std::string_view content) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(file);
    if (resolved.through_link) return false;
    const std::string folder = Parent(resolved.path);
    struct stat old;
    const bool replacing = resolved.exists && lstat(resolved.path.c_str(), &old) == 0;
    // Root may write anything, so the owner's write bit decides, as the
    // read-only attribute does on Windows.
    if (replacing && (S_ISDIR(old.st_mode) || (S_ISREG(old.st_mode) && !(old.st_mode & S_IWUSR))))
      return false;
    std::string temporary;
    UniqueFd out = CreateTemporary(folder, temporary);
    if (!out) return false;
    const mode_t mode = replacing && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0666 & ~CurrentUmask();
    bool ok = WriteAll(out.get(), content.data(), content.size()) && fchmod(out.get(), mode) == 0 && fsync(out.get()) == 0;
    ok = out.Close() && ok;
    ok = ok && rename(temporary.c_str(), resolved.path.c_str()) == 0;
    if (!ok) {
      unlink(temporary.c_str());
      return false;
    }
    SyncFolder(folder);
    resolver_.Remember(folder, BaseName(resolved.path), DT_REG);
    return true;
  }

  std::optional<std::string> NativePath(const GamePath& path) override {
    const CaseResolver::Resolved resolved = resolver_.Resolve(path);
    if (!resolved.exists) return std::nullopt;
    return resolved.path;
  }

 private:
  // A copy killed part-way leaves its temporary file behind: the first copy
  // into a folder removes those whose process is gone.
  void SweepStaleTemporaries(const std::string& folder, const CaseResolver::FolderIndex& index) {
    if (!swept_.insert(folder).second) return;
    for (const auto& [name, type] : index.Entries()) {
      unsigned pid = 0;
      int end = 0;
      if (sscanf(name.c_str(), ".velmora-%u-%*u.tmp%n", &pid, &end) == 1 && size_t(end) == name.size() &&
          pid_t(pid) != getpid() && kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        unlink((folder + "/" + name).c_str());
    }
  }

  static mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
  }

  // Makes the rename itself durable.
  static void SyncFolder(const std::string& folder) {
    UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) fsync(fd.get());
  }

  CaseResolver resolver_;
  std::unordered_set<std::string> swept_;
};

}  // namespace

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<PosixFileSystem>(game);
}

}  // namespace velmora

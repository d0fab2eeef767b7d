#include "platform/posix/temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string_view>

#include "platform/posix/calls.h"
#include "platform/posix/folder_entries.h"

namespace velmora {
namespace {

// Locks a whole open file, for writing (F_WRLCK, on a file open for
// writing) or reading (F_RDLCK), for as long as any descriptor of its open
// file description lives: an open file description lock, which neither a
// second open in this process nor a fork drops early.
bool LockWhole(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

constexpr std::string_view kTemporaryPrefix = ".velmora-";

bool IsTemporaryName(const std::string& name) {
  unsigned pid = 0;
  int end = 0;
  return sscanf(name.c_str(), ".velmora-%u-%*u.tmp%n", &pid, &end) == 1 && size_t(end) == name.size();
}

// Removes a temporary of ours that no run is writing or naming any more:
// nobody holds any lock on it. The sweep takes a read lock of its own
// first, which a writer's lock refuses and which refuses a writer's: a run
// that has just made the temporary either locks it first, and it stays, or
// fails to lock it and makes another (see CreateTemporary). Read locks
// being shared, a keeper's is looked for once the sweep holds its own.
// Through a read-only open: a temporary that took a read-only source's
// mode is still its owner's to sweep.
void RemoveIfLeftover(int folder, const std::string& name) {
  if (!IsTemporaryName(name)) return;
  const UniqueFd fd(openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd || !LockWhole(fd.get(), F_RDLCK)) return;
  struct flock lock {};
  lock.l_type = F_WRLCK;  // conflicts with any lock another holds
  lock.l_whence = SEEK_SET;
  if (fcntl(fd.get(), F_OFD_GETLK, &lock) == 0 && lock.l_type == F_UNLCK) unlinkat(folder, name.c_str(), 0);
}

// True when a process has `path`, or anything below it, open: the folders
// velmora.exe writes its copies in under Wine are held by Windows handles,
// which no lock shows, but each is a descriptor of some process.
// The descriptor `own` of this process, which asks, does not count.
bool HeldByAnyProcess(const std::string& path, int own) {
  const std::string self = std::to_string(getpid()), own_name = std::to_string(own);
  const int processes = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (processes < 0) return true;  // nobody can say: kept
  bool held = false;
  ForEachEntryIn(processes, [&](int proc, const char* process) {
    if (process[0] < '0' || process[0] > '9') return true;
    const int fds = openat(proc, (std::string(process) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ForEachEntryIn(fds, [&](int open_files, const char* fd) {
      if (process == self && fd == own_name) return true;
      char target[4096];
      const ssize_t length = readlinkat(open_files, fd, target, sizeof target - 1);
      const std::string_view opened(target, std::size_t(std::max<ssize_t>(length, 0)));
      held = opened == path || (opened.size() > path.size() && opened.substr(0, path.size()) == path &&
                                opened[path.size()] == '/');
      return !held;
    });
    return !held;
  });
  return held;
}

// Removes a leftover folder of temporaries that velmora.exe made (it writes
// its copies in one inside their target folder): never through a link, and
// only when no process holds it or anything in it.
void SweepTemporariesFolder(int folder, const std::string& name) {
  const UniqueFd fd(openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return;
  // The kernel's own name for it, as other processes' descriptors show theirs.
  char path[4096];
  const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd.get())).c_str(), path, sizeof path - 1);
  if (length <= 0 || HeldByAnyProcess(std::string(path, std::size_t(length)), fd.get())) return;
  ForEachEntryIn(dup(fd.get()), [&](int, const char* entry) {
    if (IsTemporaryName(entry)) unlinkat(fd.get(), entry, 0);  // a file, or a link's own name
    return true;
  });
  unlinkat(folder, name.c_str(), AT_REMOVEDIR);  // only once empty
}

}  // namespace

Result<UniqueFd> CreateTemporary(int folder, std::string& name) {
  static std::atomic<unsigned> counter{0};
  const std::string prefix = ".velmora-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = prefix + std::to_string(counter++) + ".tmp";
    UniqueFd fd(openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
      if (errno != EEXIST) return Status::Failed("openat");
      continue;
    }
    if (const auto& made_now = CurrentPosixFileCalls().temporary_made) made_now(folder, name);
    // Another run's sweep may have met the new name before it was locked:
    // its lock refuses ours while it removes the file, and once removed
    // the name leads nowhere. Either way, another name. Where the file
    // system keeps no locks, no sweep takes one either: the file stays.
    if (!LockWhole(fd.get(), F_WRLCK)) {
      if (errno != EAGAIN && errno != EACCES) return fd;
      unlinkat(folder, name.c_str(), 0);  // the name is this process's own
      continue;
    }
    struct stat made, named;
    if (fstat(fd.get(), &made) == 0 && fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        made.st_ino == named.st_ino && made.st_dev == named.st_dev)
      return fd;
  }
  return Status("openat", EEXIST);
}

UniqueFd KeepLocked(int written, int folder, const std::string& name) {
  // The writer's lock becomes a read lock, which the keeper's may share.
  LockWhole(written, F_RDLCK);
  UniqueFd keeper(openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (keeper) LockWhole(keeper.get(), F_RDLCK);
  return keeper;
}

void TemporarySweep::SweepOnce(const std::string& folder, int fd, const CaseResolver::FolderIndex& index) {
  if (!swept_.insert(folder).second) return;
  // Only names of ours are looked at; in a folder of thousands, few or none.
  std::vector<std::pair<std::string, unsigned char>> ours;
  index.ForEach([&](std::string_view name, unsigned char type) {
    if (name.starts_with(kTemporaryPrefix)) ours.emplace_back(name, type);
  });
  for (const auto& [name, type] : ours) {
    if (type == DT_DIR && IsTemporaryName(name)) SweepTemporariesFolder(fd, name);
    else RemoveIfLeftover(fd, name);
  }
}

}  // namespace velmora

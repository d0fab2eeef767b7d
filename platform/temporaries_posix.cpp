#include "platform/temporaries_posix.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

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

bool IsTemporaryName(const std::string& name) {
  unsigned pid = 0;
  int end = 0;
  return sscanf(name.c_str(), ".velmora-%u-%*u.tmp%n", &pid, &end) == 1 && size_t(end) == name.size();
}

// A temporary of ours that no run is writing any more: nobody holds it
// locked. Asked with a read lock, which the writer's lock refuses, through a
// read-only open: a temporary that took a read-only source's mode is still
// its owner's to sweep.
bool IsLeftoverTemporary(int folder, const std::string& name) {
  if (!IsTemporaryName(name)) return false;
  const UniqueFd fd(openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  return fd && LockWhole(fd.get(), F_RDLCK);
}

}  // namespace

Result<UniqueFd> CreateTemporary(int folder, std::string& name) {
  static std::atomic<unsigned> counter{0};
  const std::string prefix = ".velmora-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = prefix + std::to_string(counter++) + ".tmp";
    UniqueFd fd(openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd) {
      LockWhole(fd.get(), F_WRLCK);
      return fd;
    }
    if (errno != EEXIST) return Status::Failed("openat");
  }
  return Status("openat", EEXIST);
}

void TemporarySweep::SweepOnce(const std::string& folder, int fd, const CaseResolver::FolderIndex& index) {
  if (!swept_.insert(folder).second) return;
  for (const auto& [name, type] : index.Sorted())
    if (IsLeftoverTemporary(fd, std::string(name))) unlinkat(fd, std::string(name).c_str(), 0);
}

}  // namespace velmora

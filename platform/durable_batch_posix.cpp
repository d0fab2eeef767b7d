#include "platform/durable_batch_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "platform/posix_calls.h"

namespace velmora {
namespace {

bool Name(const DurableBatch::Copy& copy) {
  const int folder = copy.folder->get();
  if (copy.temporary.empty()) {
    // An unnamed file is linked in; the link refuses a name that is taken.
    const std::string self = "/proc/self/fd/" + std::to_string(copy.file.get());
    return linkat(AT_FDCWD, self.c_str(), folder, copy.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  const bool named = copy.replace == Replace::kYes
                         ? renameat(folder, copy.temporary.c_str(), folder, copy.name.c_str()) == 0
                         : RenameNoReplace(folder, copy.temporary, copy.name);
  if (!named) unlinkat(folder, copy.temporary.c_str(), 0);
  return named;
}

void Discard(const DurableBatch::Copy& copy) {
  if (!copy.temporary.empty()) unlinkat(copy.folder->get(), copy.temporary.c_str(), 0);
}

}  // namespace

PosixFileCalls& CurrentPosixFileCalls() {
  static PosixFileCalls calls{[](int fd) { return syncfs(fd); }, {}};
  return calls;
}

void DurableBatch::Add(Copy copy) {
  sync_file_range(copy.file.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  copies_.push_back(std::move(copy));
  if (copies_.size() >= kCapacity) Flush();
}

void DurableBatch::Flush() {
  if (copies_.empty()) return;
  // One flush for each file system the batch lies on.
  std::set<dev_t> flushed;
  bool durable = true;
  for (const Copy& copy : copies_) {
    struct stat st;
    if (fstat(copy.file.get(), &st) != 0) {
      durable = false;
      continue;
    }
    if (flushed.insert(st.st_dev).second) durable &= CurrentPosixFileCalls().sync_file_system(copy.file.get()) == 0;
  }
  for (const Copy& copy : copies_) durable ? (void)Name(copy) : Discard(copy);
  copies_.clear();
}

bool RenameNoReplace(int folder, const std::string& from, const std::string& to) {
  if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  // No renameat2 here: a hard link refuses an existing name just as well.
  if (linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
    unlinkat(folder, from.c_str(), 0);
    return true;
  }
  if (errno == EEXIST) return false;
  // No hard links either (FAT): the last check and the rename are not one step.
  struct stat st;
  if (fstatat(folder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) return false;
  return renameat(folder, from.c_str(), folder, to.c_str()) == 0;
}

}  // namespace velmora

#include "platform/posix/copy_data.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/posix/known_copies.h"
#include "platform/posix/shared_extents.h"
#include "platform/posix/unique_fd.h"

namespace velmora {

bool WriteAll(int to, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(to, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= size_t(written);
  }
  return true;
}

namespace {

bool CannotCopyInKernel() {
  return errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EPERM;
}

// The kernel's copy moves at most this much at a time, so that a large
// file's progress is told as it goes.
constexpr off_t kKernelStep = 16 << 20;

void Count(std::atomic<std::uint64_t>* written, off_t bytes) {
  if (written) written->fetch_add(std::uint64_t(bytes), std::memory_order_relaxed);
}

// A source that ends before its size said was written to meanwhile: errno
// tells that, not whatever an earlier call left there.
bool CutShort() {
  errno = EAGAIN;
  return false;
}

// Copies the bytes from `at` to `end` to the same place in `to`: with the
// kernel's copy while `kernel`, else through one fixed buffer. A source that
// ends early has changed under the copy: that fails.
bool CopyRange(int from, int to, off_t at, off_t end, bool& kernel, std::atomic<std::uint64_t>* written) {
  thread_local std::vector<char> buffer(1 << 20);
  while (at < end) {
    if (kernel) {
      loff_t in = at, out = at;
      const ssize_t moved = copy_file_range(from, &in, to, &out, size_t(std::min(end - at, kKernelStep)), 0);
      if (moved > 0) Count(written, moved);
      if (moved > 0) at += moved;
      else if (moved == 0) return CutShort();
      else if (CannotCopyInKernel()) kernel = false;
      else if (errno != EINTR) return false;
      continue;
    }
    const ssize_t got = pread(from, buffer.data(), size_t(std::min<off_t>(end - at, off_t(buffer.size()))), at);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) return CutShort();
    if (got < 0) return false;
    for (ssize_t put = 0; put < got;) {
      const ssize_t wrote = pwrite(to, buffer.data() + put, size_t(got - put), at + put);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return false;
      put += wrote;
    }
    Count(written, got);
    at += got;
  }
  return true;
}

// Copies only the parts of a file with holes that hold data; the holes stay
// holes, as with cp.
bool CopyDataExtents(int from, int to, off_t size, bool& kernel, std::atomic<std::uint64_t>* written) {
  for (off_t at = 0; at < size;) {
    const off_t data = lseek(from, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) return CopyRange(from, to, at, size, kernel, written);
    if (data >= size) break;
    off_t hole = lseek(from, data, SEEK_HOLE);
    if (hole < 0 || hole > size) hole = size;
    Count(written, data - at);  // the hole before the data counts as done
    if (!CopyRange(from, to, data, hole, kernel, written)) return false;
    at = hole;
  }
  return ftruncate(to, size) == 0;
}

}  // namespace

bool IsExactCopy(int from, const struct stat& from_status, int folder, const std::string& name,
                 KnownCopies* known) {
  UniqueFd copy(openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st;
  if (!copy || fstat(copy.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != from_status.st_size ||
      st.st_mtim.tv_sec != from_status.st_mtim.tv_sec || st.st_mtim.tv_nsec != from_status.st_mtim.tv_nsec ||
      (st.st_mode & 07777) != (from_status.st_mode & 07777))
    return false;
  // Found exact before, and neither changed since: nothing to ask the disk.
  if (known && known->Vouches(from_status, st)) return true;
  // A clone is the same bytes by construction: a repeated copy on btrfs or
  // xfs reads neither file.
  if (SharesAllExtents(from, from_status, copy.get(), st)) return true;
  thread_local std::vector<char> ours(1 << 16), theirs(1 << 16);
  for (off_t at = 0; at < st.st_size;) {
    const ssize_t got = pread(from, ours.data(), ours.size(), at);
    if (got <= 0 || pread(copy.get(), theirs.data(), size_t(got), at) != got ||
        std::memcmp(ours.data(), theirs.data(), size_t(got)) != 0)
      return false;
    at += got;
  }
  if (known) known->Confirm(from, from_status, copy.get(), st);
  return true;
}

bool CopyData(int from, int to, const struct stat& from_status, bool& clone, std::atomic<std::uint64_t>* written,
              bool* cloned) {
  const off_t size = from_status.st_size;
  if (clone && size > 0) {
    if (ioctl(to, FICLONE, from) == 0) {
      Count(written, size);
      if (cloned) *cloned = true;
      return true;
    }
    if (errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL || errno == ENOTTY) clone = false;
  }
  bool kernel = true;
  if (off_t(from_status.st_blocks) * 512 < size) return CopyDataExtents(from, to, size, kernel, written);
  return CopyRange(from, to, 0, size, kernel, written);
}

}  // namespace velmora

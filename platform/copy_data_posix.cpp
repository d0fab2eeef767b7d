#include "platform/copy_data_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/unique_fd.h"

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

bool ReadWriteCopy(int from, int to) {
  thread_local std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(to, buffer.data(), size_t(got))) return false;
  }
}

}  // namespace

bool IsExactCopy(int from, const struct stat& from_status, int folder, const std::string& name) {
  struct stat st;
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size != from_status.st_size ||
      st.st_mtim.tv_sec != from_status.st_mtim.tv_sec || st.st_mtim.tv_nsec != from_status.st_mtim.tv_nsec ||
      (st.st_mode & 07777) != (from_status.st_mode & 07777))
    return false;
  UniqueFd copy(openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!copy) return false;
  thread_local std::vector<char> ours(1 << 16), theirs(1 << 16);
  for (off_t at = 0; at < st.st_size;) {
    const ssize_t got = pread(from, ours.data(), ours.size(), at);
    if (got <= 0 || pread(copy.get(), theirs.data(), size_t(got), at) != got ||
        std::memcmp(ours.data(), theirs.data(), size_t(got)) != 0)
      return false;
    at += got;
  }
  return true;
}

bool CopyData(int from, int to, off_t size, bool& clone) {
  if (clone && size > 0) {
    if (ioctl(to, FICLONE, from) == 0) return true;
    if (errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL || errno == ENOTTY) clone = false;
  }
  off_t done = 0;
  while (done < size) {
    const ssize_t moved = copy_file_range(from, nullptr, to, nullptr, size_t(size - done), 0);
    if (moved < 0 && errno == EINTR) continue;
    if (moved > 0) {
      done += moved;
      continue;
    }
    if (moved == 0) return true;  // the source shrank; what it holds now is copied
    if (done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                      errno == EOPNOTSUPP || errno == EPERM))
      return ReadWriteCopy(from, to);  // no kernel copy here
    return false;
  }
  return true;
}

}  // namespace velmora

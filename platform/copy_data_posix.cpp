#include "platform/copy_data_posix.h"

#include <errno.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

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

bool CopyData(int from, int to, off_t size) {
  if (size > 0 && ioctl(to, FICLONE, from) == 0) return true;
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

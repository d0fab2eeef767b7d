#pragma once

// The names in an open folder, read once without keeping them.
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velmora {

// Hands each entry of the open folder `fd` but "." and ".." to `take`, with
// the listing's own descriptor of the folder; `fd` is taken over and closed.
// `take` returns false to stop.
template <typename Take>
void ForEachEntryIn(int fd, Take take) {
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) close(fd);
    return;
  }
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != ".." && !take(dirfd(dir), entry->d_name)) break;
  }
  closedir(dir);
}

// Hands each entry of the open folder `fd` but "." and ".." to `take` with
// its kind (a dirent d_type). False, with errno, when the folder could not
// be read to its end, which readdir() would not tell. The buffer is
// readdir's size: a larger one was measured slower, its first touch costing
// more than the calls it saves.
template <typename Take>
bool ReadAllEntries(int fd, Take take) {
  struct Entry64 {  // the kernel's linux_dirent64
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
  };
  thread_local std::vector<char> buffer(32 << 10);
  for (;;) {
    const long got = syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) return true;
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const Entry64*>(buffer.data() + at);
      const std::string_view name = entry->name;
      if (name != "." && name != "..") take(name, entry->type);
      at += entry->length;
    }
  }
}

}  // namespace velmora

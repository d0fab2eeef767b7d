#pragma once

// The names in an open folder, read once without keeping them.
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velmora {

// Hands each entry of the open folder `fd` but "." and ".." to `take` with
// its kind (a dirent d_type); `take` returns false to stop. False, with
// errno, when the folder could not be read to its end, which readdir()
// would not tell. Each call has a buffer of its own, readdir's size, so
// that a folder may be read inside the reading of another: a larger one
// was measured slower, its first touch costing more than the calls it saves.
template <typename Take>
bool ReadAllEntries(int fd, Take take) {
  struct Entry64 {  // the kernel's linux_dirent64
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
  };
  std::vector<char> buffer(32 << 10);
  for (;;) {
    const long got = syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) return true;
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const Entry64*>(buffer.data() + at);
      const std::string_view name = entry->name;
      if (name != "." && name != ".." && !take(name, entry->type)) return true;
      at += entry->length;
    }
  }
}

// The same for a folder whose reading may stop short unnoticed: each name,
// NUL-terminated, with the folder's descriptor. `fd` is taken over and closed.
template <typename Take>
void ForEachEntryIn(int fd, Take take) {
  if (fd < 0) return;
  ReadAllEntries(fd, [&](std::string_view name, unsigned char) { return take(fd, name.data()); });
  close(fd);
}

}  // namespace velmora

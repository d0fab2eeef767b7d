#pragma once

// The names in an open folder, read once without keeping them.
#include <dirent.h>
#include <unistd.h>

#include <string_view>

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

}  // namespace velmora

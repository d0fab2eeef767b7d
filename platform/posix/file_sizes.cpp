#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/file_sizes.h"
#include "platform/name_case.h"
#include "platform/posix/folder_entries.h"
#include "platform/posix/long_paths.h"

namespace velmora {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// `name` in the open folder `folder` opened as a folder, found in any letter case; -1 if none.
int OpenFolderIgnoringCase(int folder, const std::string& name) {
  const int exact = openat(folder, name.c_str(), kFolderFlags);
  if (exact >= 0) return exact;
  int found = -1;
  ForEachEntryIn(openat(folder, ".", kFolderFlags), [&](int, const char* entry) {
    if (NamesEqualIgnoringCase(entry, name)) found = openat(folder, entry, kFolderFlags);
    return found < 0;
  });
  return found;
}

struct Walk {
  bool deep;
  const std::function<bool(std::string_view, bool)>& take;
  std::vector<std::pair<dev_t, ino_t>> around;  // the folders from the first down to this one
  std::uint64_t sum = 0;
};

void SumFolder(int fd, Walk& walk) {
  struct stat self;
  if (fstat(fd, &self) != 0 ||
      std::find(walk.around.begin(), walk.around.end(), std::pair(self.st_dev, self.st_ino)) != walk.around.end()) {
    close(fd);
    return;
  }
  walk.around.emplace_back(self.st_dev, self.st_ino);
  ForEachEntryIn(fd, [&](int folder, const char* name) {
    struct stat st;
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    if (S_ISREG(st.st_mode)) {
      if (walk.take(name, name[0] == '.')) walk.sum += std::uint64_t(st.st_size);
    } else if (walk.deep && (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode))) {
      const int sub = openat(folder, name, kFolderFlags);  // a link to a file is no folder: refused
      if (sub >= 0) SumFolder(sub, walk);
    }
    return true;
  });
  walk.around.pop_back();
}

}  // namespace

std::uint64_t SumOfFileSizes(const GameFolder& game, const GamePath& folder, bool deep,
                             const std::function<bool(std::string_view name, bool hidden)>& take) {
  Result<UniqueFd> root = OpenPath(game.Root(), kFolderFlags);
  if (!root) return 0;
  int fd = root->Release();
  for (const std::string& name : folder) {
    const int next = OpenFolderIgnoringCase(fd, name);
    close(fd);
    if (next < 0) return 0;
    fd = next;
  }
  Walk walk{deep, take, {}};
  SumFolder(fd, walk);
  return walk.sum;
}

}  // namespace velmora

#include "platform/posix/long_paths.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include "platform/posix/source_files.h"

namespace velmora {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool FitsOneCall(const std::string& path) { return path.size() < PATH_MAX; }

// Opens the folder holding the last name of `path` and gives that name back
// in `name`: for the *at calls, which take a short path below an open folder.
Result<UniqueFd> OpenParent(const std::string& path, std::string& name) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    name = path;
    return OpenPath(".", kFolderFlags);
  }
  name = path.substr(slash + 1);
  return OpenPath(slash == 0 ? "/" : path.substr(0, slash), kFolderFlags);
}

}  // namespace

Result<UniqueFd> OpenPath(const std::string& path, int flags) {
  if (FitsOneCall(path)) {
    UniqueFd fd(open(path.c_str(), flags));
    if (!fd) return Status::Failed("open");
    return fd;
  }
  // The longest piece that fits, ending at a folder's name; then the rest.
  std::size_t cut = path.rfind('/', PATH_MAX - 1);
  if (cut == std::string::npos || cut == 0) return Status("open", ENAMETOOLONG);
  Result<UniqueFd> folder = OpenPath(path.substr(0, cut), kFolderFlags);
  if (!folder) return folder;
  for (std::size_t at = cut + 1;;) {
    const std::string rest = path.substr(at);
    if (FitsOneCall(rest)) {
      UniqueFd fd(openat(folder->get(), rest.c_str(), flags));
      if (!fd) return Status::Failed("openat");
      return fd;
    }
    cut = path.rfind('/', at + PATH_MAX - 1);
    if (cut == std::string::npos || cut <= at) return Status("openat", ENAMETOOLONG);
    UniqueFd next(openat(folder->get(), path.substr(at, cut - at).c_str(), kFolderFlags));
    if (!next) return Status::Failed("openat");
    *folder = std::move(next);
    at = cut + 1;
  }
}

bool StatPath(const std::string& path, struct stat& st, bool follow) {
  if (FitsOneCall(path)) return (follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) == 0;
  std::string name;
  const Result<UniqueFd> parent = OpenParent(path, name);
  return parent && fstatat(parent->get(), name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

Result<UniqueFd> OpenRegularPath(const std::string& path, int extra_flags, struct stat& st) {
  if (FitsOneCall(path)) return OpenRegular(AT_FDCWD, path.c_str(), extra_flags, st);
  std::string name;
  const Result<UniqueFd> parent = OpenParent(path, name);
  if (!parent) return parent.status();
  return OpenRegular(parent->get(), name.c_str(), extra_flags, st);
}

}  // namespace velmora

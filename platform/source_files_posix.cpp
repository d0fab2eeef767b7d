#include "platform/source_files_posix.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace velmora {

Result<UniqueFd> OpenRegular(int at, const char* path, int extra_flags, struct stat& st) {
  UniqueFd fd(openat(at, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | extra_flags));
  if (!fd) return Status::Failed("openat");
  if (fstat(fd.get(), &st) != 0) return Status::Failed("fstat");
  if (!S_ISREG(st.st_mode)) return Status("openat", EINVAL);
  fcntl(fd.get(), F_SETFL, 0);  // reads of the file itself block as usual
  return fd;
}

EntryKind KindOf(const std::string& folder, const std::string& name, unsigned char type) {
  struct stat st;
  const std::string path = folder + "/" + name;
  if (type == DT_UNKNOWN) {
    if (fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::kOther;
    type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
  }
  if (type == DT_LNK) return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? EntryKind::kFolder : EntryKind::kOther;
  return type == DT_REG ? EntryKind::kFile : type == DT_DIR ? EntryKind::kFolder : EntryKind::kOther;
}

bool GoesRoundInALoop(const std::string& root, const std::string& path) {
  std::vector<std::size_t> ends{root.size()};
  for (std::size_t at = path.find('/', root.size() + 1); at != std::string::npos; at = path.find('/', at + 1))
    ends.push_back(at);
  if (path.size() > root.size()) ends.push_back(path.size());
  std::set<std::pair<dev_t, ino_t>> seen;
  for (const std::size_t end : ends) {
    struct stat st;
    if (stat(path.substr(0, end).c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) return true;
  }
  return false;
}

Result<UniqueFd> SourceFiles::Open(const GamePath& source, struct stat& st) {
  const bool same_folder = folder_ && folder_key_.size() + 1 == source.size() &&
                           std::equal(folder_key_.begin(), folder_key_.end(), source.begin());
  if (!same_folder) {
    folder_key_.assign(source.begin(), source.end() - 1);
    const CaseResolver::Resolved folder = resolver_.Resolve(folder_key_);
    if (!folder.exists) return folder.failure.ok() ? Status("open", ENOENT) : folder.failure;
    // Reads follow the links a player made: the folder is opened by its path.
    folder_ = UniqueFd(open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_) return Status::Failed("open");
  }
  Result<UniqueFd> in = OpenRegular(folder_.get(), source.back().c_str(), O_NOFOLLOW, st);
  if (in || in.status().code() != ENOENT) return in;
  const CaseResolver::Resolved file = resolver_.Resolve(source);
  if (!file.exists) return file.failure.ok() ? in.status() : file.failure;
  return OpenRegular(AT_FDCWD, file.path.c_str(), O_NOFOLLOW, st);
}

}  // namespace velmora

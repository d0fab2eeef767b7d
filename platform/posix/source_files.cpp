#include "platform/posix/source_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "platform/posix/calls.h"
#include "platform/posix/long_paths.h"

namespace velmora {

Result<UniqueFd> OpenRegular(int at, const char* path, int extra_flags, struct stat& st) {
  UniqueFd fd(openat(at, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | extra_flags));
  if (!fd) return Status::Failed("openat");
  if (fstat(fd.get(), &st) != 0) return Status::Failed("fstat");
  if (!S_ISREG(st.st_mode)) return Status("openat", S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  fcntl(fd.get(), F_SETFL, 0);  // reads of the file itself block as usual
  return fd;
}

bool Unchanged(const struct stat& before, const struct stat& after) {
  return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
         before.st_mtim.tv_nsec == after.st_mtim.tv_nsec && before.st_ctim.tv_sec == after.st_ctim.tv_sec &&
         before.st_ctim.tv_nsec == after.st_ctim.tv_nsec;
}

namespace {

// Reads up to `size` bytes, the size the file had as it was opened: a file
// written to without end is not read without end (nor held in memory).
Result<std::string> ReadFromStart(int fd, std::size_t size) {
  std::string content(size, '\0');
  std::size_t at = 0;
  while (at < size) {
    const ssize_t got = pread(fd, content.data() + at, std::min<std::size_t>(size - at, 1 << 20), off_t(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Status::Failed("read");
    if (got == 0) break;  // cut short meanwhile: the status afterwards tells
    if (at == 0)
      if (const auto& told = CurrentPosixFileCalls().part_read) told(fd);
    at += std::size_t(got);
  }
  content.resize(at);
  return content;
}

}  // namespace

Result<std::string> ReadUnchanged(int fd, struct stat st) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    Result<std::string> content = ReadFromStart(fd, std::size_t(st.st_size));
    if (!content) return content;
    struct stat after;
    if (fstat(fd, &after) != 0) return Status::Failed("fstat");
    // A file grown since the start shows a new size: it is read again.
    if (Unchanged(st, after) && content->size() == std::size_t(after.st_size)) return content;
    st = after;
  }
  return Status("read", EAGAIN);
}

EntryKind KindOf(const std::string& folder, std::string_view name, unsigned char type) {
  if (type == DT_REG) return EntryKind::kFile;
  if (type == DT_DIR) return EntryKind::kFolder;
  struct stat st;
  const std::string path = folder + "/" + std::string(name);
  if (type == DT_UNKNOWN) {
    if (!StatPath(path, st, false)) return EntryKind::kOther;
    type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
  }
  if (type == DT_LNK) return StatPath(path, st, true) && S_ISDIR(st.st_mode) ? EntryKind::kFolder : EntryKind::kOther;
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
    if (!StatPath(path.substr(0, end), st, true) || !seen.insert({st.st_dev, st.st_ino}).second) return true;
  }
  return false;
}

Status SourceFiles::EnterFolderOf(const GamePath& source) {
  const bool same_folder = folder_ && folder_key_.size() + 1 == source.size() &&
                           std::equal(folder_key_.begin(), folder_key_.end(), source.begin());
  if (!same_folder) {
    // The folder and its key go together: a folder that cannot be opened
    // leaves none, never the one before under this one's key.
    folder_.Close();
    folder_key_.clear();
    GamePath key(source.begin(), source.end() - 1);
    const CaseResolver::Resolved folder = resolver_.Resolve(key);
    if (!folder.exists) return folder.Missing();
    // Reads follow the links a player made: the folder is opened by its path.
    Result<UniqueFd> opened = OpenPath(folder.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!opened) return opened.status();
    folder_ = std::move(*opened);
    folder_key_ = std::move(key);
  }
  return Status();
}

Result<UniqueFd> SourceFiles::Open(const GamePath& source, struct stat& st) {
  if (const Status entered = EnterFolderOf(source); !entered.ok()) return entered;
  Result<UniqueFd> in = OpenRegular(folder_.get(), source.back().c_str(), O_NOFOLLOW, st);
  if (in || in.status().code() != ENOENT) return in;
  const CaseResolver::Resolved file = resolver_.Resolve(source);
  if (!file.exists) return file.Missing();
  return OpenRegularPath(file.path, O_NOFOLLOW, st);
}

bool SourceFiles::StatFollowing(const GamePath& source, struct stat& st) {
  if (!EnterFolderOf(source).ok()) return false;
  if (fstatat(folder_.get(), source.back().c_str(), &st, 0) == 0) return true;
  const CaseResolver::Resolved file = resolver_.Resolve(source);
  return file.exists && StatPath(file.path, st, true);
}

}  // namespace velmora

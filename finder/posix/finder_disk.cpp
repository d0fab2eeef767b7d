#include "finder/finder_disk.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include "platform/posix/unique_fd.h"

namespace velmora {

std::vector<FolderEntry> FinderDisk::List(const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (Spent()) return entries;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return entries;
  ++folders_opened_;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return entries;
  }
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The listing says what most entries are; a link or an unknown kind is asked.
    bool is_folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st;
      is_folder = fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    entries.push_back({std::string(name), is_folder});
  }
  closedir(dir);
  return entries;
}

std::string_view FinderDisk::Read(const std::string& file) {
  if (files_read_ >= share_.files) return {};
  const UniqueFd in(open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (!in || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  ++files_read_;
  buffer_.resize(share_.file_size);
  std::size_t got = 0;
  while (got < buffer_.size()) {
    const ssize_t part = read(in.get(), buffer_.data() + got, buffer_.size() - got);
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) break;
    got += std::size_t(part);
  }
  bytes_read_ += got;
  return std::string_view(buffer_.data(), got);
}

bool FinderDisk::IsFolder(const std::string& path) const {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FinderDisk::IsFile(const std::string& path) const {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FinderDisk::Identity(const std::string& path) const {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return path;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

}  // namespace velmora

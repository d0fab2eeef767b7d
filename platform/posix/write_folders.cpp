#include "platform/posix/write_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include "platform/posix/calls.h"
#include "platform/posix/long_paths.h"

namespace velmora {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr long kFuseMagic = 0x65735546;   // FUSE_SUPER_MAGIC
constexpr long kMsdosMagic = 0x4d44;      // MSDOS_SUPER_MAGIC: the kernel's vfat
constexpr long kExfatMagic = 0x2011BAB0;  // EXFAT_SUPER_MAGIC: the kernel's exfat

}  // namespace

WriteFolders::WriteFolders(const std::string& root, CaseResolver& resolver, std::size_t most_open)
    : resolver_(resolver),
      root_{std::make_shared<UniqueFd>(), root},
      most_open_(most_open) {
  Result<UniqueFd> opened = OpenPath(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!opened) {
    root_failure_ = opened.status();
    return;
  }
  root_.fd = std::make_shared<UniqueFd>(std::move(*opened));
  Describe(root_);
}

bool WriteFolders::Describe(OpenFolder& at) {
  struct stat st;
  if (fstat(at.fd->get(), &st) != 0) return false;
  at.device = st.st_dev;
  const auto [known, fresh] = kinds_.try_emplace(st.st_dev);
  struct statfs fs;
  if (fresh && fstatfs(at.fd->get(), &fs) == 0) {
    const long type = long(fs.f_type);
    known->second.fuse = type == kFuseMagic;
    known->second.no_journal = type == kFuseMagic || type == kMsdosMagic || type == kExfatMagic;
  }
  at.flush_alone = known->second.fuse;
  at.no_journal = known->second.no_journal;
  return true;
}

Result<OpenFolder> WriteFolders::Open(const GamePath& folder) {
  if (!root_failure_.ok()) return root_failure_;
  if (last_open_ && last_open_->first == folder) return last_open_->second;
  OpenFolder at = root_;
  std::string key;
  for (const std::string& name : folder) {
    key += '/' + name;
    if (auto open = open_.find(key); open != open_.end()) {
      at = open->second;
      continue;
    }
    const Result<CaseResolver::FolderIndex*> index = IndexOf(at);
    if (!index) return index.status();
    const std::optional<std::string> found = (*index)->Find(name);
    if (!found) return Status("openat", ENOENT);
    auto fd = std::make_shared<UniqueFd>(openat(at.fd->get(), found->c_str(), kFolderFlags));
    if (!*fd) {
      const Status failure = Status::Failed("openat");
      // O_DIRECTORY answers ENOTDIR before O_NOFOLLOW's ELOOP: a link is told as one.
      struct stat st;
      if (failure.code() == ENOTDIR && fstatat(at.fd->get(), found->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode))
        return Status("openat", ELOOP);
      return failure;
    }
    at = {std::move(fd), at.path + "/" + *found};
    if (!Describe(at)) return Status::Failed("fstat");
    if (const auto& told = CurrentPosixFileCalls().folder_opened) told(at.path);
    if (open_.size() >= most_open_) CloseAll();
    open_.emplace(key, at);
  }
  last_open_.emplace(folder, at);
  return at;
}

Result<CaseResolver::FolderIndex*> WriteFolders::IndexOf(const OpenFolder& folder) {
  // Most writes go into the folder the write before went into.
  if (last_index_ && last_index_path_ == folder.path) return last_index_;
  const Result<CaseResolver::FolderIndex*> index = resolver_.Index(folder.path, folder.fd->get());
  last_index_ = index ? *index : nullptr;
  last_index_path_ = folder.path;
  return index;
}

Result<WriteFolders::Indexed> WriteFolders::OpenWithIndex(const GamePath& folder) {
  Result<OpenFolder> open = Open(folder);
  if (!open) return open.status();
  const Result<CaseResolver::FolderIndex*> index = IndexOf(*open);
  if (!index) return index.status();
  return Indexed{std::move(*open), *index};
}

void WriteFolders::ForgetIndex(const std::string& path) {
  if (last_index_path_ == path) last_index_ = nullptr;
  resolver_.Forget(path);
}

void WriteFolders::CloseAll() {
  open_.clear();
  last_open_.reset();
}

}  // namespace velmora

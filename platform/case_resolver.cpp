#include "platform/case_resolver.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/name_case.h"
#include "platform/posix/long_paths.h"

namespace velmora {

namespace {

// The uppercase form of a name looked up, in storage used again.
std::string_view Upper(std::string_view name) {
  thread_local std::string upper;
  ToUpperName(name, upper);
  return upper;
}

}  // namespace

void CaseResolver::FolderIndex::AddRead(std::string_view name, unsigned char type) {
  read_.push_back({std::uint32_t(names_.size()), std::uint32_t(name.size()), type});
  names_.append(name);
}

void CaseResolver::FolderIndex::Listed() {
  std::sort(read_.begin(), read_.end(), [this](const Slot& a, const Slot& b) { return NameOf(a) < NameOf(b); });
  names_.shrink_to_fit();
  read_.shrink_to_fit();
}

const CaseResolver::FolderIndex::Slot* CaseResolver::FolderIndex::ReadSlot(std::string_view name) const {
  const auto at = std::lower_bound(read_.begin(), read_.end(), name,
                                   [this](const Slot& slot, std::string_view wanted) { return NameOf(slot) < wanted; });
  return at != read_.end() && NameOf(*at) == name ? &*at : nullptr;
}

void CaseResolver::FolderIndex::AddUpper(std::string_view name) const {
  const auto [same, fresh] = by_upper_name_->try_emplace(std::string(Upper(name)), name);
  if (!fresh && name < same->second) same->second = std::string(name);
}

void CaseResolver::FolderIndex::MakeUpper() const {
  if (by_upper_name_) return;
  by_upper_name_.emplace();
  by_upper_name_->reserve(read_.size() + added_.size());
  ForEach([this](std::string_view name, unsigned char) { AddUpper(name); });
}

void CaseResolver::FolderIndex::Add(std::string name, unsigned char type) {
  if (const Slot* read = ReadSlot(name)) {
    const_cast<Slot*>(read)->type = type;
    return;
  }
  if (by_upper_name_) AddUpper(name);
  added_.insert_or_assign(std::move(name), type);
}

std::optional<std::string> CaseResolver::FolderIndex::Find(std::string_view name) const {
  if (ReadSlot(name) || added_.find(name) != added_.end()) return std::string(name);
  MakeUpper();
  const auto same = by_upper_name_->find(Upper(name));
  if (same == by_upper_name_->end()) return std::nullopt;
  return same->second;
}

unsigned char CaseResolver::FolderIndex::TypeOf(std::string_view name) const {
  if (const Slot* read = ReadSlot(name)) return read->type;
  const auto added = added_.find(name);
  return added == added_.end() ? static_cast<unsigned char>(DT_UNKNOWN) : added->second;
}

std::vector<std::pair<std::string_view, unsigned char>> CaseResolver::FolderIndex::Sorted() const {
  std::vector<std::pair<std::string_view, unsigned char>> sorted;
  sorted.reserve(read_.size() + added_.size());
  for (const Slot& slot : read_) sorted.emplace_back(NameOf(slot), slot.type);
  if (added_.empty()) return sorted;  // read in byte order already
  for (const auto& [name, type] : added_) sorted.emplace_back(name, type);
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

namespace {

bool IsLink(const std::string& path, unsigned char type) {
  struct stat st;
  if (type == DT_UNKNOWN) return StatPath(path, st, false) && S_ISLNK(st.st_mode);
  return type == DT_LNK;
}

// A folder opened anew to read its names: by its path, or through `fd`,
// a handle already open on it.
Result<UniqueFd> OpenToList(const std::string& folder, int fd) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (fd == AT_FDCWD) return OpenPath(folder, kFlags);
  UniqueFd own(openat(fd, ".", kFlags));
  if (!own) return Status::Failed("openat");
  return own;
}

}  // namespace

CaseResolver::Resolved CaseResolver::Resolve(const GamePath& path) {
  Resolved resolved{root_, true, false, false, Status()};
  for (const std::string& name : path) {
    const FolderIndex* index = nullptr;
    if (resolved.exists) {
      const Result<FolderIndex*> read = Index(resolved.path);
      index = read ? *read : nullptr;
      if (!read) resolved.failure = read.status();
    }
    std::optional<std::string> found = index ? index->Find(name) : std::nullopt;
    resolved.exists = found.has_value();
    resolved.through_link |= resolved.is_link;
    resolved.path += '/';
    resolved.path += found ? *found : name;
    resolved.is_link = found && IsLink(resolved.path, index->TypeOf(*found));
  }
  return resolved;
}

Result<CaseResolver::FolderIndex*> CaseResolver::Index(const std::string& folder) {
  return Index(folder, AT_FDCWD);
}

Result<CaseResolver::FolderIndex*> CaseResolver::Index(const std::string& folder, int fd) {
  auto [it, added] = folders_.try_emplace(folder);
  FolderRead& read = it->second;
  if (!added) return read.index ? &*read.index : Result<FolderIndex*>(read.failure);
  Result<UniqueFd> opened = OpenToList(folder, fd);
  if (!opened) {
    const Status failure = opened.status();
    // Short of descriptors, the folder is not taken for unreadable.
    if (failure.OutOfDescriptors()) folders_.erase(it);
    else read.failure = failure;
    return failure;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(opened->get()), closedir);
  if (!dir) {
    read.failure = Status::Failed("fdopendir");
    return read.failure;
  }
  (void)opened->Release();  // the folder stream closes it
  FolderIndex& index = read.index.emplace();
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") index.AddRead(name, entry->d_type);
  }
  index.Listed();
  return &index;
}

}  // namespace velmora

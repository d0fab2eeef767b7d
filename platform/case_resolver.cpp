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

void CaseResolver::FolderIndex::Add(std::string name, unsigned char type) {
  const auto [same, fresh] = by_upper_name_.try_emplace(std::string(Upper(name)));
  Spellings& spellings = same->second;
  if (fresh) {
    spellings.first = {std::move(name), type};
    return;
  }
  if (spellings.first.name == name) {
    spellings.first.type = type;
    return;
  }
  auto& others = spellings.others;
  const auto at = std::lower_bound(others.begin(), others.end(), name,
                                   [](const Named& a, const std::string& b) { return a.name < b; });
  if (at != others.end() && at->name == name) {
    at->type = type;
  } else if (name < spellings.first.name) {
    // The first in byte order stays first; the one it was precedes all others.
    others.insert(others.begin(), std::exchange(spellings.first, Named{std::move(name), type}));
  } else {
    others.insert(at, Named{std::move(name), type});
  }
}

const CaseResolver::FolderIndex::Spellings* CaseResolver::FolderIndex::SpellingsOf(std::string_view name) const {
  const auto same = by_upper_name_.find(Upper(name));
  return same == by_upper_name_.end() ? nullptr : &same->second;
}

const CaseResolver::FolderIndex::Named* CaseResolver::FolderIndex::Spellings::Exact(std::string_view name) const {
  if (first.name == name) return &first;
  for (const Named& other : others)
    if (other.name == name) return &other;
  return nullptr;
}

std::optional<std::string> CaseResolver::FolderIndex::Find(std::string_view name) const {
  const Spellings* spellings = SpellingsOf(name);
  if (!spellings) return std::nullopt;
  const Named* exact = spellings->Exact(name);
  return exact ? exact->name : spellings->first.name;
}

unsigned char CaseResolver::FolderIndex::TypeOf(std::string_view name) const {
  return SpellingsOf(name)->Exact(name)->type;
}

std::vector<std::pair<std::string_view, unsigned char>> CaseResolver::FolderIndex::Sorted() const {
  std::vector<std::pair<std::string_view, unsigned char>> sorted;
  sorted.reserve(by_upper_name_.size());
  for (const auto& [upper, spellings] : by_upper_name_) {
    sorted.emplace_back(spellings.first.name, spellings.first.type);
    for (const Named& other : spellings.others) sorted.emplace_back(other.name, other.type);
  }
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
    if (name != "." && name != "..") index.Add(std::string(name), entry->d_type);
  }
  return &index;
}

}  // namespace velmora

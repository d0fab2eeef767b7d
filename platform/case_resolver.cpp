#include "platform/case_resolver.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "platform/name_case.h"

namespace velmora {

void CaseResolver::FolderIndex::Add(std::string name, unsigned char type) {
  const auto [same, fresh] = by_upper_name_.try_emplace(ToUpperName(name));
  Spellings& spellings = same->second;
  if (fresh) {
    spellings.first = {std::move(name), type};
    return;
  }
  if (Named* known = const_cast<Named*>(Exact(name))) {
    known->type = type;
    return;
  }
  Named added{std::move(name), type};
  if (added.name < spellings.first.name) std::swap(added, spellings.first);
  const auto at = std::lower_bound(spellings.others.begin(), spellings.others.end(), added.name,
                                   [](const Named& a, const std::string& b) { return a.name < b; });
  spellings.others.insert(at, std::move(added));
}

namespace {

// The uppercase form of a name looked up, in storage used again.
std::string_view Upper(std::string_view name) {
  thread_local std::string upper;
  ToUpperName(name, upper);
  return upper;
}

}  // namespace

const CaseResolver::FolderIndex::Named* CaseResolver::FolderIndex::Exact(std::string_view name) const {
  const auto same = by_upper_name_.find(Upper(name));
  if (same == by_upper_name_.end()) return nullptr;
  if (same->second.first.name == name) return &same->second.first;
  for (const Named& other : same->second.others)
    if (other.name == name) return &other;
  return nullptr;
}

std::optional<std::string> CaseResolver::FolderIndex::Find(std::string_view name) const {
  const auto same = by_upper_name_.find(Upper(name));
  if (same == by_upper_name_.end()) return std::nullopt;
  for (const Named& other : same->second.others)
    if (other.name == name) return other.name;
  return same->second.first.name;
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
  if (type == DT_UNKNOWN) return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  return type == DT_LNK;
}

}  // namespace

CaseResolver::Resolved CaseResolver::Resolve(const GamePath& path) {
  Resolved resolved{root_, true};
  std::size_t depth = 0;
  const bool same_folder = last_folder_resolved_ && path.size() == last_folder_.size() + 1 &&
                           std::equal(last_folder_.begin(), last_folder_.end(), path.begin());
  if (same_folder) {
    resolved = *last_folder_resolved_;
    depth = last_folder_.size();
  }
  for (; depth < path.size(); ++depth) {
    const std::string& name = path[depth];
    // A folder found stays as found: this command only adds names, and never
    // one that differs from another only in letter case.
    if (depth + 1 == path.size() && !same_folder && resolved.exists) {
      last_folder_.assign(path.begin(), path.end() - 1);
      last_folder_resolved_ = resolved;
    }
    const FolderIndex* index = resolved.exists ? Index(resolved.path) : nullptr;
    std::optional<std::string> found = index ? index->Find(name) : std::nullopt;
    resolved.exists = found.has_value();
    resolved.through_link |= resolved.is_link;
    resolved.path += '/';
    resolved.path += found ? *found : name;
    resolved.is_link = found && IsLink(resolved.path, index->TypeOf(*found));
  }
  return resolved;
}

CaseResolver::FolderIndex* CaseResolver::Index(const std::string& folder) {
  return Index(folder, AT_FDCWD);
}

CaseResolver::FolderIndex* CaseResolver::Index(const std::string& folder, int fd) {
  auto [it, added] = folders_.try_emplace(folder);
  if (added) {
    const int own = fd == AT_FDCWD ? open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                   : openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Short of descriptors, the folder is not taken for unreadable: it is
    // read again on the next call.
    if (own < 0 && (errno == EMFILE || errno == ENFILE)) {
      folders_.erase(it);
      return nullptr;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> dir(own >= 0 ? fdopendir(own) : nullptr, closedir);
    if (!dir && own >= 0) close(own);
    if (dir) {
      FolderIndex& index = it->second.emplace();
      while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") index.Add(std::string(name), entry->d_type);
      }
    }
  }
  return it->second ? &*it->second : nullptr;
}

void CaseResolver::Remember(const std::string& folder, const std::string& name,
                            unsigned char type) {
  if (type == DT_DIR) last_folder_resolved_.reset();
  if (auto it = folders_.find(folder); it != folders_.end() && it->second)
    it->second->Add(name, type);
}

}  // namespace velmora

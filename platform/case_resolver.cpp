#include "platform/case_resolver.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <memory>

#include "platform/name_case.h"

namespace velmora {

void CaseResolver::FolderIndex::Add(std::string name, unsigned char type) {
  std::string upper = ToUpperName(name);
  auto [it, added] = by_upper_name_.try_emplace(std::move(upper), name);
  if (!added && name < it->second) it->second = name;
  entries_.insert_or_assign(std::move(name), type);
}

std::optional<std::string> CaseResolver::FolderIndex::Find(std::string_view name) const {
  if (auto exact = entries_.find(std::string(name)); exact != entries_.end()) return exact->first;
  if (auto other = by_upper_name_.find(ToUpperName(name)); other != by_upper_name_.end())
    return other->second;
  return std::nullopt;
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
  for (const std::string& name : path) {
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

const CaseResolver::FolderIndex* CaseResolver::Index(const std::string& folder) {
  return Index(folder, AT_FDCWD);
}

const CaseResolver::FolderIndex* CaseResolver::Index(const std::string& folder, int fd) {
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
  if (auto it = folders_.find(folder); it != folders_.end() && it->second)
    it->second->Add(name, type);
}

}  // namespace velmora

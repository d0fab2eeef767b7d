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
#include "platform/posix/folder_entries.h"
#include "platform/posix/long_paths.h"

namespace velmora {

namespace {

// The uppercase form of a name, in storage used again: one store for the
// name looked up, another for the names it is held against.
std::string_view Upper(std::string_view name, int store = 0) {
  thread_local std::string upper[2];
  ToUpperName(name, upper[store]);
  return upper[store];
}

std::size_t HashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }

// Walks the probe sequence of `hash` until `stop` says so at a slot number
// (0 for an empty place); returns that place.
template <typename Stop>
std::size_t Probe(const std::vector<std::uint32_t>& table, std::size_t hash, Stop stop) {
  const std::size_t mask = table.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask)
    if (table[at] == 0 || stop(table[at])) return at;
}

constexpr auto kAnyFreePlace = [](std::uint32_t) { return false; };

}  // namespace

void CaseResolver::FolderIndex::Grow(Table& table, bool upper) const {
  if ((slots_.size() + 1) * 2 <= table.size()) return;
  Table grown(std::max<std::size_t>(16, table.size() * 2), 0);
  for (const std::uint32_t number : table) {
    if (number == 0) continue;
    const std::string_view name = NameOf(number);
    grown[Probe(grown, HashOf(upper ? Upper(name) : name), kAnyFreePlace)] = number;
  }
  table.swap(grown);
}

void CaseResolver::FolderIndex::Insert(std::string_view name, unsigned char type) {
  Grow(exact_, false);
  slots_.push_back({std::uint32_t(names_.size()), std::uint16_t(name.size()), type});
  names_.append(name);
  const std::uint32_t number = std::uint32_t(slots_.size());
  exact_[Probe(exact_, HashOf(name), kAnyFreePlace)] = number;
  if (!by_upper_.empty()) AddUpper(number);
}

const CaseResolver::FolderIndex::Slot* CaseResolver::FolderIndex::ExactSlot(std::string_view name) const {
  if (exact_.empty()) return nullptr;
  const std::uint32_t number = exact_[Probe(exact_, HashOf(name), [&](std::uint32_t n) { return NameOf(n) == name; })];
  return number == 0 ? nullptr : &slots_[number - 1];
}

void CaseResolver::FolderIndex::AddUpper(std::uint32_t number) const {
  Grow(by_upper_, true);
  const std::string_view name = NameOf(number);
  const std::string_view upper = Upper(name);
  std::uint32_t& place = by_upper_[Probe(by_upper_, HashOf(upper), [&](std::uint32_t n) { return Upper(NameOf(n), 1) == upper; })];
  if (place == 0 || name < NameOf(place)) place = number;
}

void CaseResolver::FolderIndex::MakeUpper() const {
  if (!by_upper_.empty()) return;
  for (std::uint32_t number = 1; number <= slots_.size(); ++number) AddUpper(number);
  if (by_upper_.empty()) by_upper_.assign(16, 0);
}

void CaseResolver::FolderIndex::Add(std::string_view name, unsigned char type) {
  if (const Slot* there = ExactSlot(name)) const_cast<Slot*>(there)->type = type;
  else Insert(name, type);
}

std::optional<std::string> CaseResolver::FolderIndex::Find(std::string_view name) const {
  if (ExactSlot(name)) return std::string(name);
  MakeUpper();
  const std::string_view upper = Upper(name);
  const std::uint32_t number =
      by_upper_[Probe(by_upper_, HashOf(upper), [&](std::uint32_t n) { return Upper(NameOf(n), 1) == upper; })];
  if (number == 0) return std::nullopt;
  return std::string(NameOf(number));
}

unsigned char CaseResolver::FolderIndex::TypeOf(std::string_view name) const {
  const Slot* slot = ExactSlot(name);
  return slot ? slot->type : static_cast<unsigned char>(DT_UNKNOWN);
}

// Names in one folder often share a long start ("Monaco_0001.dat", ...):
// each is first ordered by the eight bytes after the start all share, and
// compared whole only where those are equal.
void CaseResolver::FolderIndex::ForEachSorted(const std::function<void(std::string_view, unsigned char)>& take) const {
  std::size_t shared = slots_.empty() ? 0 : slots_[0].length;
  for (const Slot& slot : slots_) {
    const std::string_view name = NameOf(slot), first = NameOf(slots_[0]);
    std::size_t same = 0;
    while (same < shared && same < name.size() && name[same] == first[same]) ++same;
    shared = same;
  }
  struct Keyed {
    std::uint64_t key;
    std::uint32_t slot;
  };
  std::vector<Keyed> order(slots_.size());
  for (std::uint32_t i = 0; i < slots_.size(); ++i) {
    const std::string_view name = NameOf(slots_[i]);
    std::uint64_t key = 0;  // big-endian: compared as numbers, in byte order; a shorter name first
    for (std::size_t b = shared; b < shared + 8; ++b)
      key = key << 8 | (b < name.size() ? static_cast<unsigned char>(name[b]) : 0u);
    order[i] = {key, i};
  }
  std::sort(order.begin(), order.end(), [this](const Keyed& a, const Keyed& b) {
    return a.key != b.key ? a.key < b.key : NameOf(slots_[a.slot]) < NameOf(slots_[b.slot]);
  });
  for (const Keyed& k : order) take(NameOf(slots_[k.slot]), slots_[k.slot].type);
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
  FolderIndex& index = read.index.emplace();
  const auto add = [&](std::string_view name, unsigned char type) {
    index.AddRead(name, type);
    return true;
  };
  if (!ReadAllEntries(opened->get(), add)) {
    read.index.reset();
    read.failure = Status::Failed("getdents64");
    return read.failure;
  }
  return &index;
}

}  // namespace velmora

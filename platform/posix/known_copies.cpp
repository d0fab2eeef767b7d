#include "platform/posix/known_copies.h"

#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/posix/calls.h"
#include "platform/posix/unique_fd.h"

namespace velmora {
namespace {

constexpr char kMagic[16] = "velmora-known-2";
constexpr std::size_t kBootBytes = 40;  // a boot id is 36 characters and a line end
// Longer than any file system's timestamp grain here (a second on ext4's
// small inodes; a clock tick on the others).
constexpr std::int64_t kGrain = 2'000'000'000;

std::uint64_t Fnv1a(const void* data, std::size_t size, std::uint64_t hash = 14695981039346656037ull) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

std::int64_t Nanoseconds(const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

// File systems whose change times only the kernel sets.
bool KeepsChangeTimes(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x9123683E:  // btrfs
    case 0x58465342:  // xfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0xCA451A4E:  // bcachefs
    case 0x2FC12FC1:  // zfs
      return true;
    default:  // FUSE (ntfs-3g, exFAT), FAT, network disks: no
      return false;
  }
}

// Appends the bytes of `value` as they lie in memory.
template <typename T>
void Append(std::vector<char>& bytes, const T& value) {
  const auto* at = reinterpret_cast<const char*>(&value);
  bytes.insert(bytes.end(), at, at + sizeof value);
}

std::string RecordFile(const std::string& cache_folder, const std::string& root) {
  if (cache_folder.empty()) return "";
  char name[40];
  std::snprintf(name, sizeof name, "known-copies-%016llx", static_cast<unsigned long long>(Fnv1a(root.data(), root.size())));
  return cache_folder + "/velmora/" + name;
}

// The identity of the system's current run, new at every start.
std::string BootId() {
  char id[kBootBytes] = {};
  const UniqueFd in(open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
  const ssize_t got = in ? read(in.get(), id, sizeof id - 1) : -1;
  return got > 0 ? std::string(id, std::size_t(got)) : std::string();
}

}  // namespace

KnownCopies::KnownCopies(const std::string& cache_folder, const std::string& root, std::string boot, timespec since)
    : file_(boot.empty() || boot.size() >= kBootBytes ? "" : RecordFile(cache_folder, root)),
      boot_(std::move(boot)),
      settled_before_(Nanoseconds(since) - kGrain) {}

KnownCopies KnownCopies::ForUser(const std::string& root) {
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') cache = xdg;
  else if (const char* home = std::getenv("HOME"); home && home[0] == '/') cache = std::string(home) + "/.cache";
  timespec now{};
  if (const auto& clock = CurrentPosixFileCalls().record_clock) now = clock();
  else clock_gettime(CLOCK_REALTIME, &now);
  return KnownCopies(cache, root, BootId(), now);
}

KnownCopies::Seen KnownCopies::SeenOf(const struct stat& st) {
  return {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(st.st_size),
          std::uint64_t(Nanoseconds(st.st_mtim)), std::uint64_t(Nanoseconds(st.st_ctim))};
}

bool KnownCopies::Settled(const struct stat& st) const { return Nanoseconds(st.st_ctim) <= settled_before_; }

bool KnownCopies::Trusted(int fd, dev_t device) {
  const auto [at, added] = trusted_devices_.try_emplace(device, false);
  if (added) at->second = KeepsChangeTimes(fd);
  return at->second;
}

bool KnownCopies::Vouches(const struct stat& source_status, const struct stat& copy_status) {
  if (file_.empty()) return false;
  const std::lock_guard<std::mutex> lock(mutex_);
  asked_ = true;
  if (!loaded_) Load();
  const Pair seen{SeenOf(source_status), SeenOf(copy_status)};
  const auto found = recorded_.find(KeyOf(seen.copy));
  if (found == recorded_.end() || !(found->second == seen)) return false;
  kept_[found->first] = found->second;
  return true;
}

void KnownCopies::Confirm(int source, const struct stat& source_status, int copy, const struct stat& copy_status) {
  if (file_.empty() || !Settled(source_status) || !Settled(copy_status)) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  asked_ = true;
  if (!Trusted(source, source_status.st_dev) || !Trusted(copy, copy_status.st_dev)) return;
  const Pair seen{SeenOf(source_status), SeenOf(copy_status)};
  kept_[KeyOf(seen.copy)] = seen;
}

std::vector<char> KnownCopies::Head() const {
  std::vector<char> head(kMagic, kMagic + sizeof kMagic);
  head.resize(head.size() + kBootBytes);
  boot_.copy(head.data() + sizeof kMagic, boot_.size());
  return head;
}

// The record is read whole, or not at all: a torn or foreign one is empty.
void KnownCopies::Load() {
  loaded_ = true;
  const UniqueFd in(open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat st;
  if (!in || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (64 << 20)) return;
  std::vector<char> bytes(std::size_t(st.st_size));
  if (pread(in.get(), bytes.data(), bytes.size(), 0) != ssize_t(bytes.size())) return;
  const std::vector<char> head = Head();
  const std::size_t kHead = head.size() + 8, kTail = 8;
  if (bytes.size() < kHead + kTail || !std::equal(head.begin(), head.end(), bytes.begin())) return;
  std::uint64_t count, checksum;
  std::memcpy(&count, bytes.data() + head.size(), 8);
  if (count > (bytes.size() - kHead - kTail) / sizeof(Pair) || kHead + count * sizeof(Pair) + kTail != bytes.size())
    return;
  std::memcpy(&checksum, bytes.data() + bytes.size() - kTail, 8);
  if (Fnv1a(bytes.data(), bytes.size() - kTail) != checksum) return;
  for (std::uint64_t i = 0; i < count; ++i) {
    Pair pair;
    std::memcpy(&pair, bytes.data() + kHead + i * sizeof(Pair), sizeof pair);
    recorded_[KeyOf(pair.copy)] = pair;
  }
}

// Written aside and renamed over the old record; a record that cannot be
// written is only a comparison more next time.
void KnownCopies::Save() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (file_.empty() || !asked_ || kept_ == recorded_) return;
  std::error_code ignored;
  const std::filesystem::path folder = std::filesystem::path(file_).parent_path();
  std::filesystem::create_directories(folder, ignored);
  std::vector<char> bytes = Head();
  Append(bytes, std::uint64_t(kept_.size()));
  for (const auto& [key, pair] : kept_) Append(bytes, pair);
  Append(bytes, Fnv1a(bytes.data(), bytes.size()));
  const std::string aside = file_ + "." + std::to_string(getpid());
  UniqueFd out(open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  const bool written = out && write(out.get(), bytes.data(), bytes.size()) == ssize_t(bytes.size());
  out.Close();
  if (!written || rename(aside.c_str(), file_.c_str()) != 0) unlink(aside.c_str());
}

}  // namespace velmora

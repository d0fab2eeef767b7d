#include "platform/posix/shared_extents.h"

#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace velmora {
namespace {

constexpr unsigned kExtentsAtOnce = 64;
// Extents whose blocks do not say what the file reads.
constexpr std::uint32_t kUncertain = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED |
                                     FIEMAP_EXTENT_DATA_ENCRYPTED | FIEMAP_EXTENT_NOT_ALIGNED |
                                     FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_DATA_TAIL;

// A FIEMAP request with room for its answer.
struct ExtentMap {
  std::vector<std::uint64_t> storage =
      std::vector<std::uint64_t>((sizeof(fiemap) + kExtentsAtOnce * sizeof(fiemap_extent)) / 8 + 1);
  fiemap* map() { return reinterpret_cast<fiemap*>(storage.data()); }

  // The extents from `start` on; false when the file system cannot tell.
  bool Read(int fd, std::uint64_t start) {
    std::memset(storage.data(), 0, storage.size() * 8);
    map()->fm_start = start;
    map()->fm_length = FIEMAP_MAX_OFFSET - start;
    map()->fm_extent_count = kExtentsAtOnce;
    // Written data still in the cache is placed first: xfs maps a write to
    // a shared block in a fork FIEMAP does not show until it is written
    // back. Free for a file with nothing waiting.
    map()->fm_flags = FIEMAP_FLAG_SYNC;
    return ioctl(fd, FS_IOC_FIEMAP, map()) == 0;
  }
};

bool SameExtent(const fiemap_extent& a, const fiemap_extent& b) {
  return a.fe_logical == b.fe_logical && a.fe_physical == b.fe_physical && a.fe_length == b.fe_length &&
         a.fe_flags == b.fe_flags && !(a.fe_flags & kUncertain);
}

}  // namespace

bool SharesAllExtents(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && SharesAllExtents(a, sa, b, sb);
}

bool SharesAllExtents(int a, const struct stat& sa, int b, const struct stat& sb) {
  if (sa.st_dev != sb.st_dev || sa.st_size != sb.st_size) return false;
  ExtentMap ma, mb;
  std::uint64_t start = 0;
  bool any = false;
  for (;;) {
    if (!ma.Read(a, start) || !mb.Read(b, start)) return false;
    const unsigned count = ma.map()->fm_mapped_extents;
    if (count != mb.map()->fm_mapped_extents) return false;
    if (count == 0) return any || sa.st_size == 0;  // no more extents: the rest is a hole in both
    for (unsigned i = 0; i < count; ++i)
      if (!SameExtent(ma.map()->fm_extents[i], mb.map()->fm_extents[i])) return false;
    any = true;
    const fiemap_extent& last = ma.map()->fm_extents[count - 1];
    if (last.fe_flags & FIEMAP_EXTENT_LAST) return true;
    start = last.fe_logical + last.fe_length;
  }
}

}  // namespace velmora

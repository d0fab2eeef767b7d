#pragma once

#include <sys/stat.h>

namespace velmora {

// True when two open files on one file system are made of the very same
// disk blocks, extent for extent (as a clone leaves them on btrfs or xfs):
// their bytes are then the same without reading them. False whenever the
// file system cannot tell for certain (no FIEMAP, data not yet placed,
// compressed, encrypted or inline), so the caller compares the bytes.
bool SharesAllExtents(int a, int b);
// The same for files whose status is known already.
bool SharesAllExtents(int a, const struct stat& sa, int b, const struct stat& sb);

}  // namespace velmora

#pragma once

#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace velmora {

// Copies the whole of one open file, of the status given, to another, letting
// the kernel move the data where it can: a clone of the extents (only while
// `clone`; it turns false when the file systems cannot clone), then
// copy_file_range, then plain reads and writes through one fixed buffer. Of
// a file with holes, only the data is copied. False also when the source
// turns out shorter than its status said. Adds the bytes to `written`, if
// given, as they are copied. Sets `cloned`, if given, when the copy is a
// clone.
bool CopyData(int from, int to, const struct stat& from_status, bool& clone,
              std::atomic<std::uint64_t>* written = nullptr, bool* cloned = nullptr);

class KnownCopies;

// True when `name` in the open `folder` is a regular file (not a link) with
// the same size, modification time, permission bits and bytes as the open
// file `from`. The bytes are not read where `known` vouches for them, and a
// copy found exact by its bytes is told to `known`, if given.
bool IsExactCopy(int from, const struct stat& from_status, int folder, const std::string& name,
                 KnownCopies* known = nullptr);

// Writes the whole buffer, or reports failure.
bool WriteAll(int to, const char* data, size_t size);

}  // namespace velmora

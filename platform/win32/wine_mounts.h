#pragma once

// Under Wine, a write refused by a Unix disk mounted read-only comes back
// as ERROR_ACCESS_DENIED, and the volume shows no FILE_READ_ONLY_VOLUME:
// the mount table tells it apart from a refusal.
#include <string>
#include <string_view>

namespace velmora {

// True under Wine when `path` lies on a Unix file system mounted
// read-only; false on Windows, or where Wine cannot say.
bool OnReadOnlyUnixMount(const std::wstring& path);

// From a mount table as /proc/self/mounts gives it: whether the mount that
// holds the Unix path `unix_path` (the longest mount point above it) is
// read-only.
bool MountedReadOnly(std::string_view mounts, std::string_view unix_path);

}  // namespace velmora

#pragma once

// Paths of any length. The system takes a path of at most PATH_MAX bytes
// (4,096 on Linux) in one call; a longer one is opened a piece at a time,
// each piece relative to the folder the piece before opened, so a game
// folder deep below long folder names reads like any other. Links on the
// way are followed as the whole path would follow them.
#include <sys/stat.h>

#include <string>

#include "platform/posix/status.h"
#include "platform/posix/unique_fd.h"

namespace velmora {

// open(path, flags), for a path of any length.
Result<UniqueFd> OpenPath(const std::string& path, int flags);

// stat (or, without `follow`, lstat) of a path of any length.
bool StatPath(const std::string& path, struct stat& st, bool follow);

// Opens a regular file by a path of any length, as OpenRegular does.
Result<UniqueFd> OpenRegularPath(const std::string& path, int extra_flags, struct stat& st);

}  // namespace velmora

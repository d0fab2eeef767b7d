#pragma once

// How many bytes the files of a folder hold, found by a walk that keeps
// nothing but the sum: for telling a long copy's progress in bytes without
// a second listing of every name.
#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/game_folder.h"

namespace velmora {

// The sizes of the files in `folder` below the game folder (its names found
// in any letter case) whose names `take` accepts, added up; with `deep`, of
// its sub-folders at every depth too. Links to folders are followed (never
// round a loop), links to files left out; 0 for a folder that cannot be read.
// `take` is told whether a file is hidden as the system marks it: by its
// attributes on Windows, by a name beginning with "." elsewhere.
std::uint64_t SumOfFileSizes(const GameFolder& game, const GamePath& folder, bool deep,
                             const std::function<bool(std::string_view name, bool hidden)>& take);

}  // namespace velmora

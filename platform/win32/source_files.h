#pragma once

// Reading below the game folder on Windows. Reads follow links to folders
// (season02 kept on another disk, say), as far as they lead nowhere they
// have been; a link to a file is left out.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/handle.h"
#include "platform/win32/holds.h"

namespace velmora {

// The entries of the folder at `path`, sorted by name, or why it could not
// be listed.
Found<std::vector<Entry>> ListFolder(const std::wstring& path);

// True when a folder is reached twice on the way from the game folder
// `root` to `folder`: a link back to a folder around it, which would be
// listed without end.
bool GoesRoundInALoop(const std::wstring& root, const GamePath& folder);

// Opens a file to read, a passing hold on it waited out.
Handle OpenToRead(const std::wstring& path, PassingHolds& holds);

}  // namespace velmora

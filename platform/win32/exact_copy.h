#pragma once

// Whether a file already holds an exact copy of a source: replacing it
// would change nothing on the disk, but cost a new file and a flush, and a
// repeated "Copy files" meets the whole pits tree so.
#include <windows.h>

#include <string>

namespace velmora {

// True when `target` is a plain file with the source's size, modification
// time, read-only mark and bytes. `source` is read from its start and left
// at its start again.
bool IsExactCopy(HANDLE source, const FILE_BASIC_INFO& source_info, const std::wstring& target);

}  // namespace velmora

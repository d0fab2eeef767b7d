#pragma once

// A folder below the game folder that writes go into, held open together
// with every folder above it up to the game folder. Each is opened through
// the one above it, never through a link, and without delete sharing: while
// they are held none of them can be renamed or swapped for a link, so what
// is created in the folder lands there. This is what coreutils and systemd
// do with openat() below an open folder; Windows offers the same through
// NtCreateFile's RootDirectory.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/handle.h"

namespace velmora {

// The error a folder refused as a link leaves: ERROR_STOPPED_ON_SYMLINK.
constexpr DWORD kRefusedLink = 681;

class HeldFolder {
 public:
  // Holds `root`, then each of `names` below it in turn; nothing when one
  // is missing, is no folder, or is a link or junction (kRefusedLink).
  static std::optional<HeldFolder> Open(const std::wstring& root, const std::vector<std::wstring>& names);

  // How a name is looked up: ignoring letter case, as Windows does, or
  // exactly so, for a name of the utility's own that nothing else spells.
  // Windows itself still ignores case unless told otherwise system-wide;
  // Wine then needs no read of the whole folder to find the name missing.
  enum class NameCase { kIgnored, kExact };
  // NtCreateFile of `name` in the held folder; the error is GetLastError's.
  Handle Create(const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                ULONG attributes = 0, NameCase name_case = NameCase::kIgnored) const;
  // True when `file` is `name` in the held folder, as Windows names it now:
  // it did not land elsewhere through a link.
  bool Holds(HANDLE file, const std::wstring& name) const;
  // Gives the open `file` the name `name` in the held folder, over an
  // existing file when `replace`.
  bool Rename(HANDLE file, const std::wstring& name, bool replace) const;

 private:
  HeldFolder() = default;

  std::vector<Handle> chain_;  // the game folder first, the held folder last
  std::wstring native_name_;   // the held folder as Windows names it
};

// Sets the attributes (read-only, hidden, archive) of an open file.
bool SetAttributes(HANDLE file, DWORD attributes);

// Sets the attributes of `name` in the held folder, itself if it is a link.
bool SetAttributes(const HeldFolder& folder, const std::wstring& name, DWORD attributes);

// Windows' own name of an open file or folder, as it is now; empty if none.
std::wstring NativeNameOf(HANDLE file);

}  // namespace velmora

#include "platform/win32/source_files.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "platform/game_folder.h"
#include "platform/win32/status.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

// Which file or folder a path leads to, links followed: the volume and the
// file's id. FILE_ID_INFO costs the system nothing more than the open; where
// it is missing (Windows 7) the older call gives the same.
using Identity = std::tuple<ULONGLONG, std::string>;
std::optional<Identity> IdentityOf(const std::wstring& path) {
  const Handle file(CreateFileW(Long(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return std::nullopt;
  FILE_ID_INFO id;
  if (GetFileInformationByHandleEx(file.get(), FileIdInfo, &id, sizeof id))
    return Identity{id.VolumeSerialNumber, std::string(reinterpret_cast<const char*>(&id.FileId), sizeof id.FileId)};
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  const DWORD index[2] = {info.nFileIndexHigh, info.nFileIndexLow};
  return Identity{info.dwVolumeSerialNumber, std::string(reinterpret_cast<const char*>(index), sizeof index)};
}

}  // namespace

Found<std::vector<Entry>> ListFolder(const std::wstring& path) {
  std::vector<Entry> entries;
  const bool listed = FindEach(path, [&](WIN32_FIND_DATAW& found) {
    if (const auto& told = CurrentWin32Calls().listed) told(found);
    // A name that is not valid UTF-16 has no UTF-8 form: it is left out.
    const std::optional<std::string> name = NarrowExactly(found.cFileName);
    const DWORD attributes = found.dwFileAttributes;
    // A link to a folder is read as that folder (a circuit kept on another
    // disk); a link to a file is left out.
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(found.dwReserved0);
    // Windows' own path rules drop a trailing dot or blank: such a name,
    // reachable only through \\?\, is left out at every path length.
    if (!name || !IsSafeName(*name) || name->back() == '.' || name->back() == ' ' ||
        (link && !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
      return true;
    entries.push_back({*name, attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::kFolder : EntryKind::kFile,
                       (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0});
    return true;
  });
  if (!listed) return CauseOfError(GetLastError());
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

bool GoesRoundInALoop(const std::wstring& root, const GamePath& folder) {
  std::set<Identity> seen;
  std::wstring path = root;
  for (std::size_t depth = 0;; ++depth) {
    const auto identity = IdentityOf(path);
    if (identity && !seen.insert(*identity).second) return true;
    if (depth == folder.size()) return false;
    path += L"\\" + Widen(folder[depth]);
  }
}

Handle OpenToRead(const std::wstring& path, PassingHolds& holds) {
  return holds.WaitOut(path, [&] {
    return Handle(CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  });
}

}  // namespace velmora

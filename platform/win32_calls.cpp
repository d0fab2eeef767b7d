#include "platform/win32_calls.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <vector>

namespace velmora {

BOOL RenameIntoFolder(HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace) {
  // FILE_RENAME_INFO is laid out as the native call wants it; Windows'
  // SetFileInformationByHandle would take the name as a path of its own.
  const std::size_t name_bytes = std::wcslen(name) * sizeof(wchar_t);
  std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace;
  rename->RootDirectory = folder;
  rename->FileNameLength = DWORD(name_bytes);
  std::memcpy(rename->FileName, name, name_bytes);
  IO_STATUS_BLOCK io;
  const NTSTATUS status = NtSetInformationFile(file, &io, rename, ULONG(buffer.size()), FileRenameInformation);
  if (status < 0) SetLastError(RtlNtStatusToDosError(status));
  return status >= 0;
}

bool IsLinkTag(DWORD tag) {
  constexpr DWORD kWslSymlink = 0xA000001D;  // IO_REPARSE_TAG_LX_SYMLINK, which MinGW's headers lack
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT || tag == kWslSymlink;
}

Win32Calls& CurrentWin32Calls() {
  static Win32Calls calls;
  return calls;
}

std::wstring ExtendedLengthPath(std::wstring path) {
  constexpr std::size_t kLongestPlainPath = 247;
  if (path.size() <= kLongestPlainPath || path.starts_with(L"\\\\?\\")) return path;
  // The prefix turns off Windows' own clean-up of the path, "/" included.
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  return path;  // relative: only Windows knows what it is relative to
}

}  // namespace velmora

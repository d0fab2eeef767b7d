#include "platform/win32/calls.h"

#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <functional>
#include <vector>

#include "platform/win32/handle.h"

namespace velmora {

namespace {

// FILE_RENAME_INFORMATION_EX and its flags (MS-FSCC 2.4.42.2), which
// MinGW's headers lack: Windows 10 1607 and later.
constexpr FILE_INFORMATION_CLASS kFileRenameInformationEx = FILE_INFORMATION_CLASS(65);
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;
constexpr ULONG kRenameIgnoreReadOnlyAttribute = 0x40;
struct RenameInformationEx {
  ULONG Flags;
  HANDLE RootDirectory;
  ULONG FileNameLength;
  WCHAR FileName[1];
};

// Answers to a rename that end it: the file system understood it and
// refused, or another program holds the file. Any other failure (error 1
// from STATUS_INVALID_DEVICE_REQUEST or STATUS_ILLEGAL_FUNCTION on Windows
// 10 1607 and Server 2016, 87 from exFAT, 50 from ReFS on Server 2022, an
// information class the system does not know) leaves the older rename to try.
bool IsFinalRenameAnswer(NTSTATUS status) {
  constexpr NTSTATUS kAccessDenied = NTSTATUS(0xC0000022L), kCannotDelete = NTSTATUS(0xC0000121L),
                     kSharingViolation = NTSTATUS(0xC0000043L), kNameCollision = NTSTATUS(0xC0000035L);
  return status >= 0 || status == kAccessDenied || status == kCannotDelete || status == kSharingViolation ||
         status == kNameCollision;
}

// Sets `info`, laid out with the name at `name_at`, with `name` in place.
template <typename Info>
NTSTATUS SetRename(HANDLE file, const wchar_t* name, std::size_t name_at, FILE_INFORMATION_CLASS kind,
                   const std::function<void(Info&)>& fill) {
  const std::size_t name_bytes = std::wcslen(name) * sizeof(wchar_t);
  std::vector<std::byte> buffer(name_at + name_bytes + sizeof(wchar_t));
  auto* info = reinterpret_cast<Info*>(buffer.data());
  fill(*info);
  info->FileNameLength = DWORD(name_bytes);
  std::memcpy(reinterpret_cast<std::byte*>(info) + name_at, name, name_bytes);
  return CurrentWin32Calls().set_information(file, info, ULONG(buffer.size()), kind);
}

}  // namespace

BOOL RenameIntoFolder(HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace) {
  // With POSIX semantics a file that another program holds open, sharing
  // deletion as scanners and indexers do, is replaced all the same; a
  // read-only pits file too. Asked only of a volume that says it has them,
  // or cannot say.
  constexpr DWORD kSupportsPosixRename = 0x400;  // FILE_SUPPORTS_POSIX_UNLINK_RENAME
  const std::optional<DWORD> volume = CurrentWin32Calls().volume_flags(folder);
  const auto posix = [&](ULONG flags) {
    return SetRename<RenameInformationEx>(file, name, offsetof(RenameInformationEx, FileName),
                                          kFileRenameInformationEx, [&](RenameInformationEx& info) {
                                            info.Flags = kRenamePosixSemantics | flags;
                                            info.RootDirectory = folder;
                                          });
  };
  constexpr NTSTATUS kNotTried = NTSTATUS(0xC00000BBL), kInvalidParameter = NTSTATUS(0xC000000DL);
  NTSTATUS status = kNotTried;
  if (!volume || (*volume & kSupportsPosixRename)) {
    status = posix(replace ? kRenameReplaceIfExists | kRenameIgnoreReadOnlyAttribute : 0);
    // Before Windows 10 1809 the flag that replaces a read-only file is
    // refused as a parameter it does not know.
    if (replace && status == kInvalidParameter) status = posix(kRenameReplaceIfExists);
  }
  // The layout the native call wants; Windows' SetFileInformationByHandle
  // would take the name as a path of its own.
  if (!IsFinalRenameAnswer(status))
    status = SetRename<FILE_RENAME_INFO>(file, name, offsetof(FILE_RENAME_INFO, FileName), FileRenameInformation,
                                         [&](FILE_RENAME_INFO& info) {
                                           info.ReplaceIfExists = replace;
                                           info.RootDirectory = folder;
                                         });
  if (status < 0) SetLastError(RtlNtStatusToDosError(status));
  return status >= 0;
}

LONG SetInformation(HANDLE file, void* info, ULONG length, int kind) {
  IO_STATUS_BLOCK io;
  return NtSetInformationFile(file, &io, info, length, FILE_INFORMATION_CLASS(kind));
}

std::optional<DWORD> VolumeFlags(HANDLE file) {
  DWORD flags = 0;
  if (!GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return std::nullopt;
  return flags;
}

std::optional<std::wstring> ReparseTarget(HANDLE folder) {
  // REPARSE_DATA_BUFFER's mount point form, which MinGW's headers lack.
  struct MountPointData {
    DWORD tag;
    WORD data_length, reserved;
    WORD substitute_offset, substitute_length, print_offset, print_length;
    wchar_t path[1];
  };
  alignas(MountPointData) std::byte data[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
  DWORD got = 0;
  if (!DeviceIoControl(folder, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof data, &got, nullptr)) return std::nullopt;
  const auto* mount = reinterpret_cast<const MountPointData*>(data);
  if (got < offsetof(MountPointData, path) || mount->tag != IO_REPARSE_TAG_MOUNT_POINT) return std::wstring();
  const std::size_t end = offsetof(MountPointData, path) + mount->substitute_offset + mount->substitute_length;
  if (end > got) return std::wstring();
  return std::wstring(mount->path + mount->substitute_offset / sizeof(wchar_t),
                      mount->substitute_length / sizeof(wchar_t));
}

bool IsMountedDisk(HANDLE folder) {
  const std::optional<std::wstring> target = CurrentWin32Calls().reparse_target(folder);
  return !target || target->starts_with(L"\\??\\Volume{");
}

bool IsLink(const std::wstring& path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  const DWORD tag = CurrentWin32Calls().get_reparse_tag(Long(path).c_str());
  if (!IsLinkTag(tag)) return false;
  if (tag != IO_REPARSE_TAG_MOUNT_POINT || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  const Handle folder(CreateFileW(Long(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !folder || !IsMountedDisk(folder.get());
}

namespace {

using FlushFunction = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PIO_STATUS_BLOCK);

FlushFunction DataOnlyFlush() {
  static const auto flush = reinterpret_cast<FlushFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtFlushBuffersFileEx")));
  return flush;
}

}  // namespace

bool HasDataOnlyFlush() { return DataOnlyFlush() != nullptr; }

BOOL FlushDataOnly(HANDLE file) {
  const FlushFunction flush = DataOnlyFlush();
  if (!flush) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
  }
  constexpr ULONG kFileDataOnly = 0x1;  // FLUSH_FLAGS_FILE_DATA_ONLY
  IO_STATUS_BLOCK io;
  const NTSTATUS status = flush(file, kFileDataOnly, nullptr, 0, &io);
  if (status < 0) SetLastError(RtlNtStatusToDosError(status));
  return status >= 0;
}

bool IsCaseSensitiveFolder(const std::wstring& folder) {
  // FILE_CASE_SENSITIVE_INFORMATION (Windows 10 1803 on), which MinGW's headers lack.
  constexpr FILE_INFO_BY_HANDLE_CLASS kFileCaseSensitiveInfo = FILE_INFO_BY_HANDLE_CLASS(23);
  constexpr ULONG kCaseSensitiveDir = 0x1;
  const HANDLE handle = CreateFileW(ExtendedLengthPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  ULONG flags = 0;
  const bool known = GetFileInformationByHandleEx(handle, kFileCaseSensitiveInfo, &flags, sizeof flags);
  CloseHandle(handle);
  return known && (flags & kCaseSensitiveDir);
}

bool IsLinkTag(DWORD tag) {
  constexpr DWORD kWslSymlink = 0xA000001D;  // IO_REPARSE_TAG_LX_SYMLINK, which MinGW's headers lack
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT || tag == kWslSymlink;
}

Win32Calls& CurrentWin32Calls() {
  static Win32Calls calls;
  return calls;
}

bool FindEach(const std::wstring& folder, const std::function<bool(WIN32_FIND_DATAW& found)>& take) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW(ExtendedLengthPath(folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L".." && !take(found)) break;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
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

#include "platform/win32/held_folder.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/win32/calls.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Others may read and write in the folder, but neither rename nor delete it.
constexpr ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
  return folder.ends_with(L'\\') ? folder + name : folder + L"\\" + name;
}

}  // namespace

std::wstring NativeNameOf(HANDLE file) {
  // The native name (\Device\HarddiskVolume3\... on Windows), asked for
  // directly: it needs no drive letter, and Wine's GetFinalPathNameByHandleW
  // gives up on paths longer than MAX_PATH.
  // Asked on the copy helpers for every copy: a buffer of its own each time,
  // on the stack while the name fits, never one that lives with the thread
  // (MinGW frees thread-local storage before such a buffer's destructor runs).
  alignas(OBJECT_NAME_INFORMATION) std::byte small[sizeof(OBJECT_NAME_INFORMATION) + 2048];
  std::vector<std::byte> large;
  auto* info = reinterpret_cast<OBJECT_NAME_INFORMATION*>(small);
  ULONG size = 0;
  if (NtQueryObject(file, ObjectNameInformation, info, ULONG(sizeof small), &size) < 0) {
    large.resize(std::max<std::size_t>(size, sizeof(OBJECT_NAME_INFORMATION) + 65536));
    info = reinterpret_cast<OBJECT_NAME_INFORMATION*>(large.data());
    if (NtQueryObject(file, ObjectNameInformation, info, ULONG(large.size()), &size) < 0) return {};
  }
  if (!info->Name.Buffer) return {};
  return std::wstring(info->Name.Buffer, info->Name.Length / sizeof(wchar_t));
}

std::optional<HeldFolder> HeldFolder::Open(const std::wstring& root, const std::vector<std::wstring>& names) {
  HeldFolder held;
  Handle top(CreateFileW(ExtendedLengthPath(root).c_str(), kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!top) return std::nullopt;
  // Some virtual disks have no name Windows can give back; below them the
  // hold alone keeps the folders in place.
  held.native_name_ = NativeNameOf(top.get());
  held.chain_.push_back(std::move(top));
  std::wstring path = root;
  for (const std::wstring& name : names) {
    path = Joined(path, name);
    Handle next = held.Create(name, kFolderAccess, kFolderSharing, FILE_OPEN,
                              FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT);
    if (!next) return std::nullopt;
    // A link whose tag Windows does not show (a Unix link under Wine) gives
    // the folder a name somewhere else.
    const DWORD tag = CurrentWin32Calls().get_handle_reparse_tag(next.get(), ExtendedLengthPath(path).c_str());
    const bool link = IsLinkTag(tag) && !(tag == IO_REPARSE_TAG_MOUNT_POINT && IsMountedDisk(next.get()));
    if (link || !held.Holds(next.get(), name)) {
      SetLastError(kRefusedLink);
      return std::nullopt;
    }
    if (!held.native_name_.empty()) held.native_name_ = Joined(held.native_name_, name);
    held.chain_.push_back(std::move(next));
  }
  return held;
}

Handle HeldFolder::Create(const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                          ULONG options, ULONG attributes, NameCase name_case) const {
  UNICODE_STRING unicode_name{USHORT(name.size() * sizeof(wchar_t)), USHORT(name.size() * sizeof(wchar_t)),
                              const_cast<wchar_t*>(name.c_str())};
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &unicode_name, name_case == NameCase::kExact ? 0 : OBJ_CASE_INSENSITIVE,
                             chain_.back().get(), nullptr);
  IO_STATUS_BLOCK io;
  HANDLE file = INVALID_HANDLE_VALUE;
  const NTSTATUS status =
      NtCreateFile(&file, access, &object, &io, nullptr, attributes, share, disposition, options, nullptr, 0);
  if (status < 0) {
    SetLastError(RtlNtStatusToDosError(status));
    return Handle();
  }
  return Handle(file);
}

bool HeldFolder::Holds(HANDLE file, const std::wstring& name) const {
  if (native_name_.empty()) return true;
  const std::wstring actual = NativeNameOf(file);
  return !actual.empty() && SameNameIgnoringCase(actual, Joined(native_name_, name));
}

bool HeldFolder::Rename(HANDLE file, const std::wstring& name, bool replace) const {
  return CurrentWin32Calls().rename_file(file, chain_.back().get(), name.c_str(), replace);
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of zero stay as they are
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

bool SetAttributes(const HeldFolder& folder, const std::wstring& name, DWORD attributes) {
  const Handle file = folder.Create(name, FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                    FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT);
  return file && folder.Holds(file.get(), name) && SetAttributes(file.get(), attributes);
}

}  // namespace velmora

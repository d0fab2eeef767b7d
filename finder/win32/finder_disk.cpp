#include "finder/finder_disk.h"

#include <windows.h>

#include "platform/ascii.h"
#include "platform/win32/calls.h"
#include "platform/win32/handle.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesW(ExtendedLengthPath(Widen(path)).c_str()); }

}  // namespace

std::vector<FolderEntry> FinderDisk::List(const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (Spent()) return entries;
  const bool opened = FindEach(Widen(folder), [&](WIN32_FIND_DATAW& found) {
    if (const std::optional<std::string> name = NarrowExactly(found.cFileName))
      entries.push_back({*name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    return true;
  });
  if (opened) ++folders_opened_;
  return entries;
}

std::string_view FinderDisk::Read(const std::string& file) {
  if (files_read_ >= share_.files) return {};
  const Handle in(CreateFileW(ExtendedLengthPath(Widen(file)).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in || GetFileType(in.get()) != FILE_TYPE_DISK) return {};
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(in.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  ++files_read_;
  buffer_.resize(share_.file_size);
  std::size_t got = 0;
  DWORD part = 0;
  while (got < buffer_.size() &&
         ReadFile(in.get(), buffer_.data() + got, DWORD(buffer_.size() - got), &part, nullptr) && part > 0)
    got += part;
  bytes_read_ += got;
  return std::string_view(buffer_.data(), got);
}

bool FinderDisk::IsFolder(const std::string& path) const {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FinderDisk::IsFile(const std::string& path) const {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FinderDisk::Identity(const std::string& path) const {
  // The full path, "/" as "\\", without a trailing separator, in one letter case.
  const std::wstring wide = Widen(path);
  std::wstring full(GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), DWORD(full.size()), full.data(), nullptr));
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (!full.empty()) CharUpperBuffW(full.data(), DWORD(full.size()));
  return full.empty() ? path : Narrow(full);
}

}  // namespace velmora

#include "platform/win32/wine_mounts.h"

#include <windows.h>

#include <memory>

#include "platform/win32/calls.h"
#include "platform/win32/handle.h"

namespace velmora {
namespace {

// A mount point as the table writes it: space, tab, newline and backslash
// as octal escapes.
std::string Unescaped(std::string_view field) {
  std::string text;
  for (std::size_t at = 0; at < field.size(); ++at) {
    const std::string_view digits = field.substr(at + 1, 3);
    if (field[at] == '\\' && digits.size() == 3 && digits.find_first_not_of("01234567") == std::string_view::npos) {
      text += char((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
      at += 3;
      continue;
    }
    text += field[at];
  }
  return text;
}

// True when `path` is `folder` or lies below it.
bool IsBelow(std::string_view path, std::string_view folder) {
  if (folder == "/") return true;
  return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string WholeFile(const wchar_t* path) {
  const Handle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
  std::string text;
  if (!file) return text;
  char buffer[16384];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

}  // namespace

bool MountedReadOnly(std::string_view mounts, std::string_view unix_path) {
  std::size_t best = 0;
  bool read_only = false;
  while (!mounts.empty()) {
    const std::size_t end = mounts.find('\n');
    std::string_view line = mounts.substr(0, end);
    mounts.remove_prefix(end == std::string_view::npos ? mounts.size() : end + 1);
    // device, mount point, type, options, ...
    std::string_view fields[4];
    for (std::string_view& field : fields) {
      const std::size_t space = line.find(' ');
      field = line.substr(0, space);
      line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
    }
    const std::string point = Unescaped(fields[1]);
    if (point.empty() || !IsBelow(unix_path, point) || point.size() < best) continue;
    best = point.size();
    // The options, comma-separated: "ro" among them.
    const std::string options = "," + std::string(fields[3]) + ",";
    read_only = options.find(",ro,") != std::string::npos;
  }
  return read_only;
}

bool OnReadOnlyUnixMount(const std::wstring& path) {
  // Wine's own export; Windows has none.
  using UnixName = char*(CDECL*)(const wchar_t*);
  static const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return false;
  const std::unique_ptr<char, void (*)(char*)> name(unix_name(Long(path).c_str()),
                                                     [](char* text) { HeapFree(GetProcessHeap(), 0, text); });
  if (!name) return false;
  return MountedReadOnly(WholeFile(L"\\\\?\\unix\\proc\\self\\mounts"), name.get());
}

}  // namespace velmora

#include "platform/win32_calls.h"

#include <algorithm>

namespace velmora {

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

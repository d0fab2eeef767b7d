#include "platform/win32/registry.h"

namespace velmora {

std::optional<std::wstring> RegistryString(const Hive& hive, const std::wstring& key, const wchar_t* value) {
  HKEY opened;
  if (RegOpenKeyExW(hive.root, key.c_str(), 0, KEY_QUERY_VALUE | hive.view, &opened) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD bytes = 0;
  LSTATUS status = RegGetValueW(opened, nullptr, value, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = DWORD(text.size() * sizeof(wchar_t));
  if (status == ERROR_SUCCESS) status = RegGetValueW(opened, nullptr, value, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || bytes < sizeof(wchar_t)) return std::nullopt;
  text.resize(bytes / sizeof(wchar_t) - 1);
  return text.empty() ? std::nullopt : std::optional(text);
}

std::vector<std::wstring> RegistrySubKeys(const Hive& hive, const std::wstring& key) {
  std::vector<std::wstring> names;
  HKEY opened;
  if (RegOpenKeyExW(hive.root, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | hive.view, &opened) != ERROR_SUCCESS)
    return names;
  wchar_t name[256];  // the longest a key's name may be
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(opened);
  return names;
}

}  // namespace velmora

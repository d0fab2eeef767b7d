#pragma once

// Reading the registry: a key below a hive, in one of its views.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct Hive {
  HKEY root;
  REGSAM view;  // a 32-bit program sees the 64-bit machine keys only when it asks
};

// The user's keys, and the machine's in both views ("Registry Keys Affected
// by WOW64": HKLM\Software is led to Wow6432Node unless the 64-bit view is
// asked for).
inline const Hive kUserAndMachineHives[] = {
    {HKEY_CURRENT_USER, 0}, {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}};

// A string value (`value` null: the key's default); one of type
// REG_EXPAND_SZ comes expanded. None when missing or empty.
std::optional<std::wstring> RegistryString(const Hive& hive, const std::wstring& key, const wchar_t* value);

// The names of the keys below `key`.
std::vector<std::wstring> RegistrySubKeys(const Hive& hive, const std::wstring& key);

}  // namespace velmora

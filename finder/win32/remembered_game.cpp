#include <windows.h>

#include "finder/remembered_game.h"
#include "platform/win32/registry.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

constexpr const wchar_t* kKey = L"Software\\Velmora Config";
constexpr const wchar_t* kValue = L"GameFolder";

}  // namespace

std::string RememberedGameFolder() {
  const std::optional<std::wstring> folder = RegistryString({HKEY_CURRENT_USER, 0}, kKey, kValue);
  return folder ? Narrow(*folder) : "";
}

// Windows has no Wine prefix to keep.
std::string RememberedWinePrefix() { return ""; }

void RememberGameFolder(const std::string& folder, const std::string&) {
  const std::wstring wide = Widen(folder);
  RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_SZ, wide.c_str(), DWORD((wide.size() + 1) * sizeof(wchar_t)));
}

void ForgetGameFolder() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue); }

}  // namespace velmora

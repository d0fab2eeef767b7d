#include "platform/win32/virtual_store.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cwctype>
#include <string>
#include <vector>

#include "platform/win32/calls.h"
#include "platform/win32/handle.h"
#include "platform/win32/registry.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

// TokenVirtualizationEnabled, as a number: older headers lack it.
constexpr TOKEN_INFORMATION_CLASS kTokenVirtualizationEnabled = TOKEN_INFORMATION_CLASS(24);

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring found;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) found = path;
  CoTaskMemFree(path);
  return found;
}

// True when `path` is `folder` or lies below it.
bool IsBelow(const std::wstring& path, std::wstring folder) {
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (folder.empty() || path.size() < folder.size()) return false;
  if (!SameNameIgnoringCase(path.substr(0, folder.size()), folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == L'\\' || path[folder.size()] == L'/';
}

}  // namespace

std::wstring CompatibilityLayers(HKEY root, REGSAM view, const std::wstring& program) {
  return RegistryString({root, view}, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers",
                        program.c_str())
      .value_or(L"");
}

int OwnVirtualization() {
  // Read once, before the utility turns it off: the answer stands for the
  // whole run.
  static const int as_started = [] {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
    DWORD enabled = 0, size = 0;
    const bool known = GetTokenInformation(token, kTokenVirtualizationEnabled, &enabled, sizeof enabled, &size);
    CloseHandle(token);
    return known ? (enabled ? 1 : 0) : -1;
  }();
  return as_started;
}

bool TurnOffOwnVirtualization() {
  OwnVirtualization();  // its state as started is kept first
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, &token)) return false;
  DWORD off = 0;
  const bool done = SetTokenInformation(token, kTokenVirtualizationEnabled, &off, sizeof off);
  CloseHandle(token);
  return done;
}

bool VirtualizationPolicy() {
  // Each on unless set to 0; with User Account Control off (EnableLUA 0)
  // nothing is virtualized.
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return true;
  const auto on = [&](const wchar_t* name) {
    DWORD enabled = 1, size = sizeof enabled;
    RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &enabled, &size);
    return enabled != 0;
  };
  const bool virtualized = on(L"EnableLUA") && on(L"EnableVirtualization");
  RegCloseKey(key);
  return virtualized;
}

std::vector<std::wstring> VirtualizedRoots() {
  std::vector<std::wstring> roots;
  for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramData,
                                  &FOLDERID_Windows})
    if (std::wstring root = KnownFolder(*id); !root.empty()) roots.push_back(root);
  // A 32-bit program is told the 32-bit Program Files; the 64-bit one is virtualized too.
  wchar_t native[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH) > 0) roots.push_back(native);
  return roots;
}

std::wstring LocalAppData() { return KnownFolder(FOLDERID_LocalAppData); }

bool MayCreateIn(const std::wstring& folder) {
  const std::wstring probe = folder + L"\\.velmora-probe-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  const Handle file(CreateFileW(ExtendedLengthPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return bool(file);
}

bool RunsElevated(const std::wstring& program) {
  // The compatibility settings of 64-bit Windows are kept in the machine's
  // 64-bit view; the user's and the 32-bit view count too.
  for (const Hive& hive : kUserAndMachineHives)
    if (CurrentWin32Calls().compat_layers(hive.root, hive.view, program).find(L"RUNASADMIN") != std::wstring::npos)
      return true;
  const HMODULE module =
      LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return false;
  bool elevated = false;
  // Any requestedExecutionLevel, asInvoker too, takes a program out of virtualization.
  if (const HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {  // RT_MANIFEST
    const HGLOBAL loaded = LoadResource(module, manifest);
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (text) elevated = std::string(text, SizeofResource(module, manifest)).find("requestedExecutionLevel") !=
                         std::string::npos;
  }
  FreeLibrary(module);
  return elevated;
}

GameView GameViewOf(const std::wstring& root) {
  const Win32Calls& calls = CurrentWin32Calls();
  bool below = false;
  for (const std::wstring& virtualized : calls.virtualized_roots()) below = below || IsBelow(root, virtualized);
  // Only local volumes are virtualized.
  if (!below || GetDriveTypeW((root.substr(0, root.find(L'\\') + 1)).c_str()) != DRIVE_FIXED) return {};
  // Nothing is left to a filter whose rules for handles are not documented.
  const int utility_virtualized = calls.own_virtualization();  // as the utility started
  if (utility_virtualized == 1 && !calls.turn_off_own_virtualization()) return {L"", true};
  if (!calls.virtualization_policy()) return {};
  // The game, an unmanifested 32-bit program of the same user, is
  // virtualized exactly when the utility was, whatever the real folder
  // allows. Where the token cannot say, a user who may not create files
  // there is one Windows redirects.
  const bool game_virtualized = utility_virtualized == -1 ? !calls.may_create_in(root) : utility_virtualized == 1;
  if (!game_virtualized || calls.runs_elevated(root + L"\\Dromvik.exe")) return {};
  const std::wstring local = calls.local_app_data();
  const std::size_t drive = root.find(L':');
  if (local.empty() || drive == std::wstring::npos) return {L"", true};
  return {local + L"\\VirtualStore" + root.substr(drive + 1), false};
}

}  // namespace velmora

#pragma once

// The few Windows calls whose failures cannot be made for real in a test
// (a folder link Wine cannot create, a game that needs elevation): the
// Windows side of the core makes them through here, and a test may swap one.
#include <windows.h>

#include <functional>
#include <string>

namespace velmora {

struct Win32Calls {
  std::function<DWORD(const wchar_t* path)> get_attributes = [](const wchar_t* path) {
    return GetFileAttributesW(path);
  };
  std::function<BOOL(const wchar_t* from, const wchar_t* to, DWORD flags)> move_file =
      [](const wchar_t* from, const wchar_t* to, DWORD flags) { return MoveFileExW(from, to, flags); };
  std::function<BOOL(const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                     STARTUPINFOW* startup, PROCESS_INFORMATION* process)>
      create_process = [](const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                          STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
        return CreateProcessW(application, command_line, nullptr, nullptr, FALSE, 0, nullptr, folder, startup,
                              process);
      };
};

// The calls in use; a test replaces one and puts the original back.
Win32Calls& CurrentWin32Calls();

// A path Windows takes at any length: absolute paths from 248 characters on
// (the limit of CreateDirectoryW) get the \\?\ prefix, \\?\UNC\ for shares.
std::wstring ExtendedLengthPath(std::wstring path);

}  // namespace velmora

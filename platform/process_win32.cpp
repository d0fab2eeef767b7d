#include <windows.h>

#include "platform/process.h"
#include "platform/win32_text.h"

namespace velmora {

bool StartDetached(const ProgramStart& start) {
  if (start.arguments.empty()) return false;
  // Windows takes one command line; an argument with a blank is quoted.
  std::wstring command_line;
  for (const std::string& argument : start.arguments) {
    if (!command_line.empty()) command_line += L' ';
    const bool quote = argument.find_first_of(" \t") != std::string::npos;
    command_line += quote ? L"\"" + Widen(argument) + L"\"" : Widen(argument);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  const std::wstring folder = Widen(start.working_folder);
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

std::optional<std::string> FindOnPath(std::string_view program) {
  wchar_t found[MAX_PATH];
  if (SearchPathW(nullptr, Widen(program).c_str(), nullptr, MAX_PATH, found, nullptr) == 0) return std::nullopt;
  return Narrow(found);
}

}  // namespace velmora

#include <windows.h>
#include <shellapi.h>

#include "platform/process.h"
#include "platform/win32/calls.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

// "The requested operation requires elevation"; MinGW's headers lack it.
constexpr DWORD kElevationRequired = 740;

// Windows takes one command line; an argument with a blank is quoted.
std::wstring CommandLine(std::vector<std::string>::const_iterator from,
                         std::vector<std::string>::const_iterator to) {
  std::wstring command_line;
  for (auto argument = from; argument != to; ++argument) {
    if (!command_line.empty()) command_line += L' ';
    const bool quote = argument->find_first_of(" \t") != std::string::npos;
    command_line += quote ? L"\"" + Widen(*argument) + L"\"" : Widen(*argument);
  }
  return command_line;
}

// A program that needs elevation starts only through the shell, which asks
// the user for it. It gets the same arguments and folder as a plain start;
// the shell puts the program's full path first on the command line, which
// no caller of the shell can choose otherwise.
bool StartElevated(const ProgramStart& start) {
  const std::wstring file = Widen(start.program_file.empty() ? start.arguments.front() : start.program_file);
  const std::wstring parameters = CommandLine(start.arguments.begin() + 1, start.arguments.end());
  const std::wstring folder = Widen(start.working_folder);
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.lpFile = file.c_str();
  execute.lpParameters = parameters.c_str();
  execute.lpDirectory = folder.c_str();
  execute.nShow = SW_SHOWNORMAL;
  return CurrentWin32Calls().shell_execute(&execute) != 0;
}

}  // namespace

namespace {

// The system's own words for an error, in one line, the program's name
// where they name it ("%1"), without the full stops at its end (the
// sentence it goes into ends it).
std::string Describe(DWORD error, const std::wstring& program) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring described = length ? std::wstring(text, length) : L"error " + std::to_wstring(error);
  if (text) LocalFree(text);
  for (std::size_t at = described.find(L"%1"); at != std::wstring::npos; at = described.find(L"%1", at + program.size()))
    described.replace(at, 2, program);
  while (!described.empty() && (described.back() == L'\n' || described.back() == L'\r' || described.back() == L' ' ||
                                described.back() == L'.'))
    described.pop_back();
  return Narrow(described);
}

}  // namespace

bool StartDetached(const ProgramStart& start, StartFailure* why, const std::function<void()>& started) {
  const std::wstring named = start.arguments.empty() ? L"" : Widen(start.arguments.front());
  const auto refused = [&](DWORD error) {
    if (why) why->refusal = Describe(error, named);
    return false;
  };
  if (start.arguments.empty()) return refused(ERROR_FILE_NOT_FOUND);
  std::wstring command_line = CommandLine(start.arguments.begin(), start.arguments.end());
  const std::wstring program = ExtendedLengthPath(Widen(start.program_file));
  const std::wstring folder = Widen(start.working_folder);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!CurrentWin32Calls().create_process(program.empty() ? nullptr : program.c_str(), command_line.data(),
                                          folder.c_str(), &startup, &process)) {
    const DWORD error = GetLastError();
    if (error != kElevationRequired) return refused(error);
    if (!StartElevated(start)) return refused(GetLastError());
    if (started) started();
    return true;
  }
  CloseHandle(process.hThread);
  if (started) started();
  // Watched for a moment: a program that ends at once with a failure did
  // not start the game.
  DWORD status = 0;
  const bool ended_badly = start.watch_ms > 0 &&
                           WaitForSingleObject(process.hProcess, DWORD(start.watch_ms)) == WAIT_OBJECT_0 &&
                           GetExitCodeProcess(process.hProcess, &status) && status != 0;
  CloseHandle(process.hProcess);
  if (ended_badly && why) why->status = status;
  return !ended_badly;
}

std::optional<std::string> FindOnPath(std::string_view program) {
  wchar_t found[MAX_PATH];
  if (SearchPathW(nullptr, Widen(program).c_str(), nullptr, MAX_PATH, found, nullptr) == 0) return std::nullopt;
  return Narrow(found);
}

}  // namespace velmora

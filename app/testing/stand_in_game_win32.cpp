// A stand-in for the game on Windows: records the arguments it was given,
// its working folder, the season folder it reads from the configuration
// file named by -config=, and its own program file, in "launch-record.txt"
// in its working folder.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& wide) {
  std::string text(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), text.data(), int(text.size()), nullptr, nullptr);
  return text;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring arguments, config;
  for (int i = 1; i < count; ++i) {
    const std::wstring argument = argv[i];
    arguments += (i > 1 ? L" " : L"") + argument;
    if (argument.rfind(L"-config=", 0) == 0) config = argument.substr(8);
  }
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  wchar_t season[MAX_PATH] = {};
  if (!config.empty())
    GetPrivateProfileStringW(L"Game Options", L"SEASONDIR", L"", season, MAX_PATH,
                             (std::wstring(folder) + L"\\" + config).c_str());
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::string record = "arguments=" + Utf8(arguments) + "\ncwd=" + Utf8(folder) + "\nseasondir=" +
                             Utf8(season) + "\nprogram=" + Utf8(program) + "\n";
  const HANDLE file = CreateFileW(L"launch-record.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, record.data(), DWORD(record.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(L"launch-record.tmp", L"launch-record.txt", MOVEFILE_REPLACE_EXISTING);
  return 0;
}

// velmora.exe: started in the game folder, or given it (a folder dropped on
// the program), it shows the one window.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/form1_win32.h"
#include "platform/win32_text.h"

namespace {

std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; words && i < count; ++i) arguments.push_back(velmora::Narrow(words[i]));
  LocalFree(words);
  return arguments;
}

// A program without a console answers its flags in a message box.
int Tell(const std::string& text, int status) {
  MessageBoxW(nullptr, velmora::Widen(text).c_str(), L"Velmora Config",
              status ? MB_ICONWARNING : MB_ICONINFORMATION);
  return status;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  using velmora::CommandLine;
  const CommandLine line = velmora::ParseCommandLine(Arguments());
  switch (line.action) {
    case CommandLine::Action::kHelp:
      return Tell(velmora::UsageText(), 0);
    case CommandLine::Action::kVersion:
      return Tell(velmora::VersionText(), 0);
    case CommandLine::Action::kMisuse:
      return Tell(velmora::UsageText(), 2);
    case CommandLine::Action::kRun:
      break;
  }
  if (!line.folder.empty() && !SetCurrentDirectoryW(velmora::Widen(line.folder).c_str()))
    return Tell("velmora: cannot work in " + line.folder, 1);
  velmora::Form1 form(instance, velmora::GameFolder::Current());
  return form.Run(show);
}

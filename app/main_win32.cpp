// velmora.exe: started in the game folder, or given it (a folder dropped on
// the program), it shows the one window.
#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>


#include <string>
#include <vector>

#include "app/catalog.h"
#include "app/command_line.h"
#include "app/form1_win32.h"
#include "app/notices.h"
#include "finder/game_chooser.h"
#include "finder/install_search.h"
#include "finder/remembered_game.h"
#include "platform/win32/text.h"

namespace {

std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; words && i < count; ++i) arguments.push_back(velmora::Narrow(words[i]));
  LocalFree(words);
  return arguments;
}

// The parent of the folder it was started in: where a game is likely when
// the program was unpacked into a folder of its own below the game.
std::wstring ParentOfCurrentFolder() {
  std::wstring current(GetCurrentDirectoryW(0, nullptr), L'\0');
  current.resize(GetCurrentDirectoryW(DWORD(current.size()), current.data()));
  const std::size_t slash = current.find_last_of(L"\\/");
  return slash == std::wstring::npos || slash < 3 ? current.substr(0, 3) : current.substr(0, slash);
}

// Wine's folder chooser takes nothing from an empty name box, where
// Windows' takes the folder shown; Wine's ntdll says what it is.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Asks for the game folder with the system's folder chooser, opening in
// `start` with the installs `found` among its places, until the one chosen
// holds a game; empty when the player cancels, or where the chooser cannot
// be had.
std::wstring ChooseGameFolder(std::wstring start, const std::vector<velmora::FoundInstall>& found) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              reinterpret_cast<void**>(&dialog))))
    return L"";
  DWORD options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(velmora::Widen(velmora::ChooserTitle()).c_str());
  for (const velmora::FoundInstall& install : found) {
    IShellItem* place = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(velmora::Widen(install.folder).c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&place)))) {
      dialog->AddPlace(place, FDAP_BOTTOM);
      place->Release();
    }
  }
  std::wstring chosen;
  for (;;) {
    IShellItem* folder = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem, reinterpret_cast<void**>(&folder)))) {
      dialog->SetFolder(folder);
      folder->Release();
      // Under Wine the folder's path in the name box: shown, and taken by
      // Enter or the Open button as Windows takes the folder shown.
      if (UnderWine()) dialog->SetFileName(start.c_str());
    }
    IShellItem* result = nullptr;
    if (FAILED(dialog->Show(nullptr)) || FAILED(dialog->GetResult(&result))) break;
    PWSTR path = nullptr;
    if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      chosen = path;
      CoTaskMemFree(path);
    }
    result->Release();
    if (!chosen.empty() && velmora::HoldsGame(velmora::Narrow(chosen))) break;
    MessageBoxW(nullptr, velmora::Widen(velmora::NoGameHere()).c_str(), L"Velmora Config", MB_ICONWARNING);
    start = chosen.empty() ? start : chosen;
    chosen.clear();
  }
  dialog->Release();
  return chosen;
}

// A program without a console answers its flags in a message box.
int Tell(const std::string& text, int status) {
  MessageBoxW(nullptr, velmora::Widen(text).c_str(), L"Velmora Config",
              status ? MB_ICONWARNING : MB_ICONINFORMATION);
  return status;
}

std::string CannotWorkIn(const std::string& folder) {
  return velmora::Fill(velmora::Tr("The utility cannot work in {folder}."), {{"folder", folder}});
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  using velmora::CommandLine;
  velmora::UseCatalog("");
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
  // A folder named that holds no game, or is gone, is asked for again.
  const auto is_folder = [](const std::string& path) {
    const DWORD attributes = GetFileAttributesW(velmora::Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  };
  const bool named_game = !line.folder.empty() && is_folder(line.folder) && velmora::HoldsGame(line.folder);
  if (named_game && !SetCurrentDirectoryW(velmora::Widen(line.folder).c_str()))
    return Tell(CannotWorkIn(line.folder), 1);
  // Started where no game is (the zip's own folder, a shortcut without
  // "Start in"), or named a folder without one, it asks for the game folder
  // before its window opens.
  if (!named_game && (!line.folder.empty() || !velmora::HoldsGame(velmora::GameFolder::Current().Root()))) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    velmora::FinderDisk disk;
    const std::vector<velmora::FoundInstall> found = velmora::FindInstalls(velmora::KnownInstallPlaces({}, {}, disk), disk);
    std::string start = line.folder.empty() ? "" : velmora::NearestExistingFolder(line.folder, is_folder);
    if (start.empty()) {
      // Unpacked into a folder of its own below the game, the game is the
      // parent; else the first install found.
      std::string fallback = velmora::Narrow(ParentOfCurrentFolder());
      if (!velmora::HoldsGame(fallback) && !found.empty()) fallback = found.front().folder;
      start = velmora::ChooserStart(velmora::RememberedGameFolder(), fallback, velmora::ForgetGameFolder);
    }
    const std::wstring chosen = ChooseGameFolder(velmora::Widen(start), found);
    if (chosen.empty()) return 0;  // cancelled: nothing done
    if (!SetCurrentDirectoryW(chosen.c_str())) return Tell(CannotWorkIn(velmora::Narrow(chosen)), 1);
  }
  // Confirmed: the next start outside a game folder opens the chooser here.
  velmora::RememberGameFolder(velmora::GameFolder::Current().Root());
  velmora::Form1 form(instance, velmora::GameFolder::Current());
  const int status = form.Run(show);
  return status != 0 ? status : form.ExitStatus();
}

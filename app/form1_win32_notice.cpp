// The window's notice: a task dialog with the files not copied behind its
// details, the whole list a link away, that closes with Esc and stays on
// the screen.
#include "app/form1_win32.h"

#include <algorithm>
#include <string>

#include <commctrl.h>
#include <shellapi.h>

#include "app/catalog.h"
#include "app/notices.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

// A task dialog shows a list below its text; past this many lines the
// rest is counted, so that the dialog stays on a small screen (1280 x 800
// at 150 %), and the whole list is a link away.
constexpr std::size_t kDetailLines = 8;

// The whole list as a text file in the user's temporary folder, which the
// details link to; empty when it cannot be written.
std::wstring WholeListFile(const std::string& details) {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return {};
  const std::wstring path = std::wstring(folder, length) + Widen(Tr("Velmora Config - files not copied.txt"));
  std::string text = "\xEF\xBB\xBF";  // UTF-8, as Notepad tells it
  for (const char c : details) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  DWORD written = 0;
  const bool whole = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
  CloseHandle(file);
  return whole ? path : std::wstring();
}

// The first lines of the details; past them, how many more and, where the
// whole list could be written, a link that opens it.
std::wstring ShortDetails(const std::string& details, std::wstring& whole_list) {
  std::size_t end = 0, lines = 0;
  while (lines < kDetailLines && (end = details.find('\n', end)) != std::string::npos) ++end, ++lines;
  if (end == std::string::npos || end >= details.size()) return Widen(details);
  std::size_t more = 0;
  for (std::size_t at = end; at < details.size(); ++at) more += details[at] == '\n';
  std::wstring shown = Widen(details.substr(0, end) +
                             Fill(TrN("... and {count} more.", "... and {count} more.", more), {{"count", Counted(more)}}));
  whole_list = WholeListFile(details);
  if (!whole_list.empty()) shown += Widen("\n<a href=\"list\">" + Tr("Open the whole list") + "</a>");
  return shown;
}

// The common controls' window subclassing, found as the task dialog is, in
// the comctl32 the manifest asks for.
template <typename Function>
Function FromCommonControls(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"comctl32.dll"), name)));
}
using DefSubclassProcFunction = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
using SetWindowSubclassFunction = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR);

// Moves a window up (and left) as far as it takes to lie inside its
// monitor's work area, never past its top (or left) edge.
void KeepInWorkArea(HWND window) {
  RECT rect;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetWindowRect(window, &rect) ||
      !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
    return;
  const RECT& work = monitor.rcWork;
  const LONG left = std::max(work.left, std::min(rect.left, work.right - (rect.right - rect.left)));
  const LONG top = std::max(work.top, std::min(rect.top, work.bottom - (rect.bottom - rect.top)));
  if (left != rect.left || top != rect.top)
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Esc closes the dialog as its OK does, whether or not the system's task
// dialog lets a dialog without a Cancel button be cancelled (Wine's does not);
// grown by its details, it stays inside the work area.
LRESULT CALLBACK CancellableDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
  static const auto def_subclass_proc = FromCommonControls<DefSubclassProcFunction>("DefSubclassProc");
  if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
    SendMessageW(dialog, TDM_CLICK_BUTTON, IDOK, 0);
    return 0;
  }
  const LRESULT result = def_subclass_proc(dialog, message, wparam, lparam);
  if (message == WM_WINDOWPOSCHANGED && !(reinterpret_cast<const WINDOWPOS*>(lparam)->flags & SWP_NOSIZE))
    KeepInWorkArea(dialog);
  return result;
}

HRESULT CALLBACK OnTaskDialog(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR whole_list) {
  static const auto set_window_subclass = FromCommonControls<SetWindowSubclassFunction>("SetWindowSubclass");
  static const auto def_subclass_proc = FromCommonControls<DefSubclassProcFunction>("DefSubclassProc");
  if (notification == TDN_CREATED && set_window_subclass && def_subclass_proc)
    set_window_subclass(dialog, CancellableDialog, 1, 0);
  if (notification == TDN_HYPERLINK_CLICKED) {
    const std::wstring& list = *reinterpret_cast<const std::wstring*>(whole_list);
    // Opened as the player opens a text file; where no program is set for
    // that (a bare Wine prefix), in Notepad, which every Windows has.
    if (reinterpret_cast<INT_PTR>(ShellExecuteW(dialog, L"open", list.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) <= 32)
      ShellExecuteW(dialog, L"open", L"notepad.exe", (L"\"" + list + L"\"").c_str(), nullptr, SW_SHOWNORMAL);
  }
  return S_OK;
}

}  // namespace

void Form1::Tell(const Notice& notice) {
  const std::wstring caption = Widen(design::kCaption);
  const std::wstring text = Widen(notice.text);
  // Through comctl32 6, which the manifest asks for; a message box where
  // there is none.
  using TaskDialogFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
  static const auto task_dialog = reinterpret_cast<TaskDialogFunction>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"comctl32.dll"), "TaskDialogIndirect")));
  if (task_dialog) {
    std::wstring whole_list;
    const std::wstring details = ShortDetails(notice.details, whole_list);
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = window_;
    config.hInstance = instance_;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.dwCommonButtons = TDCBF_OK_BUTTON;
    config.pszWindowTitle = caption.c_str();
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszContent = text.c_str();
    if (!details.empty()) {
      // Behind the system's own "See details", in the player's language.
      config.pszExpandedInformation = details.c_str();
      config.dwFlags |= TDF_EXPAND_FOOTER_AREA;
      if (!whole_list.empty()) config.dwFlags |= TDF_ENABLE_HYPERLINKS;
    }
    config.pfCallback = OnTaskDialog;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&whole_list);
    if (SUCCEEDED(task_dialog(&config, nullptr, nullptr, nullptr))) return;
  }
  MessageBoxW(window_, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
}

}  // namespace velmora

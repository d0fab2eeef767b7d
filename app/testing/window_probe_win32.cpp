// What Windows and other programs do to the utility's window, for the
// end-to-end test under Wine:
//   window_probe watch STOP_FILE   every 250 ms, WM_NULL through
//                                  SendMessageTimeout(SMTO_ABORTIFHUNG, 1 s) and
//                                  IsHungAppWindow, until STOP_FILE exists or
//                                  the window is gone
//   window_probe close [WHEN]      sends WM_CLOSE, as task managers and scripts
//                                  do, once the file WHEN exists
//   window_probe syscommand-close [WHEN]  posts WM_SYSCOMMAND SC_CLOSE
// Exit status 0 when the window answered as it should.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND FindUtilityWindow() {
  for (int i = 0; i < 100; ++i) {
    if (const HWND window = FindWindowW(nullptr, L"Tamsel Velmora - Config")) return window;
    Sleep(100);
  }
  return nullptr;
}

int Watch(HWND window, const wchar_t* stop_file) {
  const DWORD began = GetTickCount();
  DWORD slowest = 0;
  int answered = 0;
  // A window that is hidden is being destroyed: the program ends. (Without a
  // window manager, Wine's DestroyWindow then waits 2 s for one.)
  const auto ending = [window] { return !IsWindow(window) || !IsWindowVisible(window); };
  while (GetFileAttributesW(stop_file) == INVALID_FILE_ATTRIBUTES && !ending()) {
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    const bool answer = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
    const DWORD error = GetLastError();
    if (ending()) break;
    if (!answer) {
      std::printf("FAIL: WM_NULL unanswered within 1 s, %lu ms in (error %lu)\n", start - began, error);
      return 1;
    }
    if (IsHungAppWindow(window)) {
      std::printf("FAIL: IsHungAppWindow says the window is hung, %lu ms in\n", start - began);
      return 1;
    }
    const DWORD took = GetTickCount() - start;
    if (took > slowest) slowest = took;
    ++answered;
    Sleep(250);
  }
  if (answered == 0) {
    std::printf("FAIL: the window was never asked\n");
    return 1;
  }
  std::printf("%d WM_NULL answered, the slowest in %lu ms; never hung\n", answered, slowest);
  return 0;
}

bool WaitForFile(const wchar_t* file) {
  for (int i = 0; i < 3000; ++i) {
    if (GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const HWND window = FindUtilityWindow();
  if (!window) {
    std::printf("FAIL: no window\n");
    return 1;
  }
  if (std::wcscmp(argv[1], L"watch") == 0 && argc == 3) return Watch(window, argv[2]);
  if (argc == 3 && !WaitForFile(argv[2])) {
    std::printf("FAIL: no signal to send\n");
    return 1;
  }
  if (std::wcscmp(argv[1], L"close") == 0) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &result)) return 0;
    std::printf("FAIL: WM_CLOSE unanswered within 10 s\n");
    return 1;
  }
  if (std::wcscmp(argv[1], L"syscommand-close") == 0)
    return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
  return 2;
}

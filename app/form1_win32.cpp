#include "app/form1_win32.h"

#include <algorithm>
#include <utility>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "app/notices.h"
#include "app/resources_win32.h"
#include "platform/win32/calls.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

constexpr wchar_t kWindowClass[] = L"VelmoraForm1";
constexpr int kFirstButtonId = 1001;  // clear of IDOK and IDCANCEL, so Enter and Esc reach no button
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = 0;

COLORREF ToColorRef(design::Colour colour) { return RGB(colour.red, colour.green, colour.blue); }

// Functions of newer Windows versions, looked up when present.
template <typename Function>
Function User32(const char* name) {
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

UINT SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const UINT dpi = UINT(GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);
  return dpi;
}

UINT DpiOf(HWND window) {
  static const auto get_dpi_for_window = User32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  const UINT dpi = get_dpi_for_window ? get_dpi_for_window(window) : 0;
  return dpi ? dpi : SystemDpi();
}

// The outer size of a window whose client area is the design's at `dpi`.
SIZE WindowSizeFor(UINT dpi) {
  RECT rect{0, 0, design::ToPixels(design::kClientWidth, int(dpi)),
            design::ToPixels(design::kClientHeight, int(dpi))};
  static const auto adjust_for_dpi =
      User32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  if (!adjust_for_dpi || !adjust_for_dpi(&rect, kStyle, FALSE, kExStyle, dpi))
    AdjustWindowRectEx(&rect, kStyle, FALSE, kExStyle);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// The system's message font, made for `dpi`.
HFONT MessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  static const auto for_dpi =
      User32<BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT)>("SystemParametersInfoForDpi");
  if (!for_dpi || !for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, int(dpi), int(SystemDpi()));
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

HICON LoadIconSized(HINSTANCE instance, int size) {
  return HICON(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELMORA), IMAGE_ICON, size, size, 0));
}

// Clicks and keys meant for the window and its buttons. The title bar's
// buttons send non-client messages and Alt+F4 and Alt+Space are system
// keys: they pass, so the window can be moved and asked to close.
bool IsDroppedInput(const MSG& message) {
  switch (message.message) {
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
    case WM_SYSDEADCHAR:
      return false;
    default:
      return (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
             (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST);
  }
}

}  // namespace

// Apartment-threaded, as a window's thread must be; never counted on being
// done by someone else (an input method happens to, on some systems).
Form1::ComOnThisThread::ComOnThisThread()
    : initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}

Form1::ComOnThisThread::~ComOnThisThread() {
  if (initialised) CoUninitialize();
}

Form1::Form1(HINSTANCE instance, GameFolder game, FileSystemOpener open_file_system)
    : instance_(instance),
      commands_(std::move(game), std::move(open_file_system), *this) {
  // Reset by each wait it ends: a worker wakes the window for every figure
  // of progress, and last when its command is done.
  command_done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  picture_ = HBITMAP(LoadImageW(instance_, MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0,
                                LR_CREATEDIBSECTION));
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance_;
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  window_class.lpszClassName = kWindowClass;
  RegisterClassExW(&window_class);
  // Made hidden, then sized for the DPI of the monitor it is on.
  window_ = CreateWindowExW(kExStyle, kWindowClass, Widen(design::kCaption).c_str(), kStyle, 0, 0, 100, 100,
                            nullptr, nullptr, instance_, this);
}

Form1::~Form1() {
  taskbar_.reset();  // its interface goes before COM does
  if (window_) DestroyWindow(window_);
  for (HGDIOBJ object : {HGDIOBJ(font_), HGDIOBJ(picture_)})
    if (object) DeleteObject(object);
  for (HICON icon : {big_icon_, small_icon_})
    if (icon) DestroyIcon(icon);
  if (command_done_) CloseHandle(command_done_);
}

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(form));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return form ? form->Handle(message, wparam, lparam) : DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Form1::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  // Sent by the shell once the window has its taskbar button, and again
  // whenever Explorer restarts.
  static const UINT taskbar_button_created = RegisterWindowMessageW(L"TaskbarButtonCreated");
  if (message == taskbar_button_created) {
    taskbar_ = TaskbarButtonOpener()();
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      // Run as administrator, the window would otherwise never hear from
      // the shell's taskbar, which runs at a lower integrity level.
      CurrentWin32Calls().allow_message(window_, taskbar_button_created);
      high_contrast_ = CurrentWin32Calls().high_contrast();
      CreateButtons();
      dpi_ = DpiOf(window_);
      Layout();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wparam);
      Layout();
      // Windows' own rectangle for the new scale keeps the window under the
      // pointer as it is dragged across monitors.
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      // The theme may have changed: colours, or high contrast on or off.
      high_contrast_ = CurrentWin32Calls().high_contrast();
      RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
      return DefWindowProcW(window_, message, wparam, lparam);
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT:
      Paint();
      return 0;
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) Clicked(LOWORD(wparam));
      return 0;
    case WM_ACTIVATE:
      // The focus leaves with the window and comes back to the same button.
      if (LOWORD(wparam) == WA_INACTIVE)
        last_focus_ = GetFocus();
      else
        SetFocus(last_focus_ ? last_focus_ : buttons_[design::kTabOrder[0]]);
      return 0;
    case WM_CLOSE:
      if (!commands_.DeferClose()) DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window_, message, wparam, lparam);
  }
}

void Form1::CreateButtons() {
  // Created in tab order: the dialog keys move the focus in creation order.
  for (design::Button which : design::kTabOrder) {
    const design::ButtonDesign& design = design::kButtons[which];
    buttons_[which] = CreateWindowExW(0, L"BUTTON", Widen(design.caption).c_str(),
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 0, 0, window_,
                                      HMENU(INT_PTR(kFirstButtonId + which)), instance_, nullptr);
  }
}

void Form1::Layout() {
  if (font_) DeleteObject(font_);
  font_ = MessageFont(dpi_);
  for (HICON icon : {big_icon_, small_icon_})
    if (icon) DestroyIcon(icon);
  big_icon_ = LoadIconSized(instance_, MulDiv(32, int(dpi_), 96));
  small_icon_ = LoadIconSized(instance_, MulDiv(16, int(dpi_), 96));
  SendMessageW(window_, WM_SETICON, ICON_BIG, LPARAM(big_icon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, LPARAM(small_icon_));
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    const design::ButtonDesign& design = design::kButtons[i];
    const int dpi = int(dpi_);
    MoveWindow(buttons_[i], design::ToPixels(design.left, dpi), design::ToPixels(design.top, dpi),
               design::ToPixels(design.width, dpi), design::ToPixels(design.height, dpi), TRUE);
    SendMessageW(buttons_[i], WM_SETFONT, WPARAM(font_), FALSE);
  }
  InvalidateRect(window_, nullptr, FALSE);
}

int Form1::Run(int show) {
  // Centred on the work area of the monitor the window was made on.
  const SIZE size = WindowSizeFor(dpi_);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - size.cx) / 2,
               work.top + (work.bottom - work.top - size.cy) / 2, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window_, show);
  UpdateWindow(window_);
  SetFocus(buttons_[design::kTabOrder[0]]);
  MSG message;
  while (HandleNextMessage(message)) {
  }
  return int(message.wParam);
}

bool Form1::HandleNextMessage(MSG& message) {
  if (GetMessageW(&message, nullptr, 0, 0) <= 0) return false;
  if (window_ && (ClickOnEnter(message) || IsDialogMessageW(window_, &message))) return true;
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return true;
}

// Enter clicks the focused button, as Space does; no button is a default.
bool Form1::ClickOnEnter(const MSG& message) {
  if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) return false;
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (message.hwnd != buttons_[i]) continue;
    if (IsWindowEnabled(buttons_[i])) Clicked(kFirstButtonId + int(i));
    return true;
  }
  return false;
}

void Form1::Clicked(int id) {
  // A BM_CLICK or WM_COMMAND sent while a command runs is refused by the
  // runner, as every other press is.
  switch (id - kFirstButtonId) {
    case design::kCpyFls:
      CpyFls_Click();
      break;
    case design::kCRTINI:
      CRTINI_Click();
      break;
    case design::kCommand1:
      Command1_Click();
      break;
    case design::kEndProgram:
      EndProgram_Click();
      break;
    default:
      break;  // IDOK and IDCANCEL from Enter and Esc elsewhere: no button's
  }
}

void Form1::CpyFls_Click() { CopyFiles(); }
void Form1::CRTINI_Click() { CreateConfigINI(); }

void Form1::EndProgram_Click() { commands_.Press(design::kEndProgram); }
void Form1::Command1_Click() { commands_.Press(design::kCommand1); }
void Form1::CopyFiles() { commands_.Press(design::kCpyFls); }
void Form1::CreateConfigINI() { commands_.Press(design::kCRTINI); }

void Form1::End() {
  if (window_) DestroyWindow(window_);
}

void Form1::SetAway(bool away) {
  if (!window_) return;
  ShowWindow(window_, away ? SW_HIDE : SW_SHOW);
  if (!away) SetForegroundWindow(window_);
}

void Form1::ShowCopying(bool copying) {
  const design::ButtonDesign& copy = design::kButtons[design::kCpyFls];
  SetWindowTextW(buttons_[design::kCpyFls], Widen(copying ? design::kCopyingCaption : copy.caption).c_str());
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (!design::kButtons[i].locked_while_copying) continue;
    EnableWindow(buttons_[i], !copying);
    RedrawWindow(buttons_[i], nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
}

void Form1::Focus(design::Button button) {
  // Taken back when the window is next activated, if it is not active now.
  last_focus_ = buttons_[button];
  if (GetActiveWindow() == window_) SetFocus(buttons_[button]);
}

void Form1::Wake() { SetEvent(command_done_); }

void Form1::ShowProgress(const TaskProgress& progress) {
  if (taskbar_) taskbar_->Show(window_, progress);
}

void Form1::ServeDroppingInput(const std::function<bool()>& done) {
  // The last command's wake-up is over: its worker has been joined.
  ResetEvent(command_done_);
  // Messages are taken as they come, so Windows never calls the window hung.
  while (!done()) {
    MsgWaitForMultipleObjectsEx(1, &command_done_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    DispatchDroppingInput();
  }
  // Input still queued now was made while the command ran.
  DispatchDroppingInput();
  if (std::exchange(quit_seen_, false)) PostQuitMessage(int(quit_code_));
}

void Form1::DispatchDroppingInput() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit_seen_ = true;
      quit_code_ = message.wParam;
    } else if (!IsDroppedInput(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

void Form1::Paint() {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window_, &paint);
  RECT client;
  GetClientRect(window_, &client);
  const HBRUSH strip = CreateSolidBrush(ToColorRef(design::kStrip));
  FillRect(dc, &client, strip);
  DeleteObject(strip);
  if (picture_) {
    const HDC source = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(source, picture_);
    // Drawn from the top left corner; above 96 DPI scaled smoothly.
    const int width = MulDiv(design::kPictureWidth96, int(dpi_), 96);
    const int height = MulDiv(design::kPictureHeight96, int(dpi_), 96);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, 0, 0, width, height, source, 0, 0, design::kPictureWidth96, design::kPictureHeight96,
               SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
  }
  EndPaint(window_, &paint);
}

// The graphical button style: a flat light blue face with raised edges,
// sunken while pressed, a greyed caption when disabled and the focus
// rectangle on the focused button. In a high-contrast theme the face, the
// captions and the focus take the theme's own colours, as Windows' buttons do.
void Form1::DrawButton(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  RECT rect = item.rcItem;
  const bool pressed = item.itemState & ODS_SELECTED;
  const HBRUSH face =
      CreateSolidBrush(high_contrast_ ? GetSysColor(COLOR_BTNFACE) : ToColorRef(design::kButtonFace));
  FillRect(dc, &rect, face);
  DeleteObject(face);
  DrawEdge(dc, &rect, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

  wchar_t caption[64];
  GetWindowTextW(item.hwndItem, caption, 64);
  RECT text = rect;
  if (pressed) OffsetRect(&text, 1, 1);
  SetBkMode(dc, TRANSPARENT);
  const HGDIOBJ old_font = SelectObject(dc, font_);
  const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
  if (item.itemState & ODS_DISABLED) {
    if (!high_contrast_) {
      // Etched, as Windows greys a caption: a white copy below and right.
      RECT light = text;
      OffsetRect(&light, 1, 1);
      SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
      DrawTextW(dc, caption, -1, &light, format);
    }
    SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  } else {
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  }
  DrawTextW(dc, caption, -1, &text, format);
  SelectObject(dc, old_font);

  if (item.itemState & ODS_FOCUS) {
    const int inset = MulDiv(4, int(dpi_), 96);
    InflateRect(&rect, -inset, -inset);
    if (high_contrast_) {
      // A solid frame in the highlight colour, two pixels wide at 96 DPI.
      const HBRUSH highlight = CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHT));
      for (int ring = 0; ring < MulDiv(2, int(dpi_), 96); ++ring) {
        FrameRect(dc, &rect, highlight);
        InflateRect(&rect, -1, -1);
      }
      DeleteObject(highlight);
    } else {
      DrawFocusRect(dc, &rect);
    }
  }
}

}  // namespace velmora

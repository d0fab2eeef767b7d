// The Win32 window's buttons as they are drawn, in the designed colours and
// in a high-contrast theme. Wine keeps no high-contrast setting, so the test
// says through the seam whether one is on; the theme's colours are set for
// real, as the theme switch sets them.
#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "app/form1_win32.h"
#include "platform/testing/injected.h"
#include "platform/testing/temp_game.h"
#include "platform/win32/calls.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

constexpr COLORREF kDesignedFace = RGB(192, 192, 255);
// A theme's colours, each one that nothing else on a button uses.
constexpr COLORREF kThemeFace = RGB(0, 0, 0);
constexpr COLORREF kThemeText = RGB(255, 255, 0);
constexpr COLORREF kThemeGreyText = RGB(0, 255, 0);
constexpr COLORREF kThemeHighlight = RGB(0, 255, 255);
constexpr std::array<int, 4> kThemeElements = {COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_GRAYTEXT, COLOR_HIGHLIGHT};

// The pixels of a button as it paints itself.
class Picture {
 public:
  explicit Picture(HWND button) {
    RECT client;
    GetClientRect(button, &client);
    width_ = client.right;
    height_ = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB};
    void* bits = nullptr;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(button, WM_PRINTCLIENT, WPARAM(dc), PRF_CLIENT);
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    for (int i = 0; i < width_ * height_; ++i)
      pixels_.push_back(RGB(GetRValue(pixels[i] >> 16), GetRValue(pixels[i] >> 8), GetRValue(pixels[i])));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }

  // Inside the raised edge, left of any caption.
  COLORREF Face() const { return pixels_[(height_ / 2) * width_ + 3]; }
  // How many pixels have `colour`, not counting `border` pixels all round.
  int Count(COLORREF colour, int border = 0) const {
    int count = 0;
    for (int y = border; y < height_ - border; ++y)
      for (int x = border; x < width_ - border; ++x) count += pixels_[y * width_ + x] == colour;
    return count;
  }

 private:
  int width_ = 0, height_ = 0;
  std::vector<COLORREF> pixels_;
};

class HighContrastTest : public ::testing::Test {
 protected:
  HighContrastTest() : injected_(CurrentWin32Calls()) {
    for (std::size_t i = 0; i < kThemeElements.size(); ++i) saved_[i] = GetSysColor(kThemeElements[i]);
    injected_.calls().high_contrast = [this] { return high_contrast_; };
  }
  ~HighContrastTest() override { SetSysColors(int(kThemeElements.size()), kThemeElements.data(), saved_.data()); }

  // Switches the theme as Windows does: its colours, then the setting.
  void SwitchTheme(bool high_contrast) {
    high_contrast_ = high_contrast;
    if (high_contrast) {
      const std::array<COLORREF, 4> theme = {kThemeFace, kThemeText, kThemeGreyText, kThemeHighlight};
      SetSysColors(int(kThemeElements.size()), kThemeElements.data(), theme.data());
    }
    SendMessageW(form_.window(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
  }

  testing::Injected<Win32Calls> injected_;
  bool high_contrast_ = false;
  std::array<COLORREF, 4> saved_{};
  testing::TempGame temp_;
  Form1 form_{GetModuleHandleW(nullptr), temp_.game()};
};

TEST_F(HighContrastTest, ButtonsTakeTheThemesColoursAndGoBackWhenItEnds) {
  // Without a display, Wine makes windows only with its null driver.
  ASSERT_TRUE(form_.window()) << "no window: set HKCU\\Software\\Wine\\Drivers Graphics=null";
  HWND copy = form_.button(design::kCpyFls);
  HWND close = form_.button(design::kEndProgram);
  EXPECT_EQ(Picture(copy).Face(), kDesignedFace);

  SwitchTheme(true);
  EnableWindow(close, FALSE);
  SetFocus(copy);
  const Picture focused(copy);
  EXPECT_EQ(focused.Face(), kThemeFace);
  EXPECT_GT(focused.Count(kThemeText), 0) << "caption in the theme's text colour";
  EXPECT_GT(focused.Count(kThemeHighlight), 0) << "focus in the theme's highlight colour";
  const Picture disabled(close);
  EXPECT_GT(disabled.Count(kThemeGreyText), 0) << "greyed caption in the theme's grey";
  // The raised edge is white; inside it, nothing is.
  EXPECT_EQ(disabled.Count(RGB(255, 255, 255), 2), 0) << "no white etching on the theme's face";
  EXPECT_EQ(disabled.Count(kThemeText), 0);

  SwitchTheme(false);
  EXPECT_EQ(Picture(copy).Face(), kDesignedFace);
}

// Screen readers read each button through MSAA (and UI Automation's proxy
// for it): an owner-drawn button keeps its caption as its window text, so
// its accessible name is the caption. (Windows' proxy gives it the push
// button role; Wine's gives every window the client role, so the role is
// not checked here.)
TEST(Form1AccessibilityTest, EachButtonIsNamedByItsCaption) {
  testing::TempGame temp;
  Form1 form(GetModuleHandleW(nullptr), temp.game());
  ASSERT_TRUE(form.window()) << "no window: set HKCU\\Software\\Wine\\Drivers Graphics=null";
  CoInitialize(nullptr);
  for (design::Button which : {design::kCpyFls, design::kCRTINI, design::kCommand1, design::kEndProgram}) {
    IAccessible* accessible = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(form.button(which), DWORD(OBJID_CLIENT), IID_IAccessible,
                                         reinterpret_cast<void**>(&accessible)),
              S_OK);
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    EXPECT_EQ(accessible->get_accName(self, &name), S_OK);
    EXPECT_EQ(Narrow(name ? name : L""), design::kButtons[which].caption);
    SysFreeString(name);
    accessible->Release();
  }
  CoUninitialize();
}

// BM_CLICK reaches a button's command with no input message at all: sent
// to "Create INI-file", "Run Velmora" and "Close" while a copy runs, it
// starts nothing, and the copy ends as usual.
TEST(Form1GateTest, ButtonClicksSentDuringACopyStartNothing) {
  testing::TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp.Write("Config.ini", "SeasonDir=season02\\\r\nSaveDir=save\\\r\n");
  temp.MakeFolder("ZENTOSAVE");
  Form1* form = nullptr;
  int sent = 0;
  Form1 window(GetModuleHandleW(nullptr), temp.game(), [&](const GameFolder& game) {
    // On the command's worker; each message waits for the window's thread.
    for (design::Button other : {design::kCRTINI, design::kCommand1, design::kEndProgram}) {
      SendMessageW(form->button(other), BM_CLICK, 0, 0);
      ++sent;
    }
    return OpenFileSystem(game);
  });
  form = &window;
  ASSERT_TRUE(window.window()) << "no window: set HKCU\\Software\\Wine\\Drivers Graphics=null";
  SendMessageW(window.button(design::kCpyFls), BM_CLICK, 0, 0);
  EXPECT_EQ(sent, 3);
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
  EXPECT_FALSE(temp.Exists("Qorvane.ini")) << "Create INI-file ran during the copy";
  EXPECT_TRUE(window.window()) << "Run Velmora or Close was carried out during the copy";
  for (design::Button button : {design::kCpyFls, design::kCRTINI, design::kEndProgram})
    EXPECT_TRUE(IsWindowEnabled(window.button(button)));
  // Once the copy is over, the same click works.
  SendMessageW(window.button(design::kCRTINI), BM_CLICK, 0, 0);
  EXPECT_TRUE(temp.Exists("Qorvane.ini"));
}

// What the window asks of its taskbar button.
class RecordedTaskbar : public TaskbarButton {
 public:
  struct Seen {
    std::atomic<bool> anything{false};
    std::atomic<bool> fraction{false};
  };
  RecordedTaskbar(std::vector<TaskProgress>& shown, Seen& seen) : shown_(shown), seen_(seen) {}
  void Show(HWND, const TaskProgress& progress) override {
    shown_.push_back(progress);
    seen_.anything = true;
    if (progress.state == TaskProgress::State::kPart) seen_.fraction = true;
  }

 private:
  std::vector<TaskProgress>& shown_;
  Seen& seen_;
};

// Holds the plan until the taskbar has shown something, and copies slowly
// until it has shown a fraction, so that each is shown for sure.
class HeldUntilShown : public FileSystemWrapper {
 public:
  HeldUntilShown(std::unique_ptr<FileSystem> real, const RecordedTaskbar::Seen& seen)
      : FileSystemWrapper(*real), real_(std::move(real)), seen_(seen) {}
  Found<std::vector<Entry>> List(const GamePath& folder) override {
    for (int i = 0; i < 1000 && !seen_.anything; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return FileSystemWrapper::List(folder);
  }
  FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    for (int i = 0; i < 15 && !seen_.fraction; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return FileSystemWrapper::CopyFile(source, target_folder, replace);
  }

 private:
  std::unique_ptr<FileSystem> real_;
  const RecordedTaskbar::Seen& seen_;
};

TEST(Form1TaskbarTest, ACopyShowsItsAmountUnknownThenItsFractionOnTheTaskbarButtonAndClearsIt) {
  testing::TempGame temp;
  for (int i = 0; i < 40; ++i) temp.Write("season02/tracks/Monaco/" + std::to_string(100 + i) + ".gdb", "geometry");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  std::vector<TaskProgress> shown;
  RecordedTaskbar::Seen seen;
  const auto saved = TaskbarButtonOpener();
  TaskbarButtonOpener() = [&] { return std::make_unique<RecordedTaskbar>(shown, seen); };
  Form1 window(GetModuleHandleW(nullptr), temp.game(), [&](const GameFolder& game) {
    return std::make_unique<HeldUntilShown>(OpenFileSystem(game), seen);
  });
  ASSERT_TRUE(window.window()) << "no window: set HKCU\\Software\\Wine\\Drivers Graphics=null";
  // As the shell does once the window's button is on the taskbar.
  SendMessageW(window.window(), RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  SendMessageW(window.button(design::kCpyFls), BM_CLICK, 0, 0);
  TaskbarButtonOpener() = saved;

  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown.front().state, TaskProgress::State::kUnknown) << "while the plan is made";
  EXPECT_EQ(shown.back().state, TaskProgress::State::kNone) << "not cleared";
  double last = 0;
  for (std::size_t i = 1; i + 1 < shown.size(); ++i) {
    ASSERT_EQ(shown[i].state, TaskProgress::State::kPart) << "at " << i;
    EXPECT_GE(shown[i].fraction, last);
    last = shown[i].fraction;
  }
  EXPECT_GT(last, 0.0) << "no fraction shown";
  EXPECT_LE(last, 1.0);
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/139.gdb"));
}

// UIPI drops registered messages sent from a lower integrity level to an
// elevated window; the ITaskbarList3 documentation asks the window to let
// TaskbarButtonCreated through with ChangeWindowMessageFilterEx. Wine has
// no integrity levels: the seam records what the window lets through.
TEST(Form1TaskbarTest, TheWindowLetsTheShellsTaskbarMessageThroughAsAnElevatedWindowMust) {
  testing::TempGame temp;
  testing::Injected injected(CurrentWin32Calls());
  std::vector<std::pair<HWND, UINT>> allowed;
  injected.calls().allow_message = [&](HWND window, UINT message) {
    allowed.emplace_back(window, message);
    return TRUE;
  };
  Form1 window(GetModuleHandleW(nullptr), temp.game());
  ASSERT_TRUE(window.window());
  const std::pair<HWND, UINT> taskbar{window.window(), RegisterWindowMessageW(L"TaskbarButtonCreated")};
  EXPECT_NE(std::find(allowed.begin(), allowed.end(), taskbar), allowed.end());
}

// WM_DPICHANGED's documentation: the window takes the rectangle the message
// suggests, which keeps it under the pointer as it moves between monitors.
TEST(Form1DpiTest, OnADpiChangeTheWindowTakesTheSuggestedRectangle) {
  testing::TempGame temp;
  Form1 window(GetModuleHandleW(nullptr), temp.game());
  ASSERT_TRUE(window.window());
  RECT suggested{53, 61, 53 + 777, 61 + 555};
  SendMessageW(window.window(), WM_DPICHANGED, MAKEWPARAM(144, 144), LPARAM(&suggested));
  RECT now{};
  GetWindowRect(window.window(), &now);
  EXPECT_EQ(now.left, suggested.left);
  EXPECT_EQ(now.top, suggested.top);
  EXPECT_EQ(now.right - now.left, 777);
  EXPECT_EQ(now.bottom - now.top, 555);
}

TEST(Form1TaskbarTest, WithoutTheTaskbarInterfaceACopyRunsAsBefore) {
  testing::TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  const auto saved = TaskbarButtonOpener();
  TaskbarButtonOpener() = [] { return std::unique_ptr<TaskbarButton>(); };
  Form1 window(GetModuleHandleW(nullptr), temp.game());
  ASSERT_TRUE(window.window());
  SendMessageW(window.window(), RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  SendMessageW(window.button(design::kCpyFls), BM_CLICK, 0, 0);
  TaskbarButtonOpener() = saved;
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
  EXPECT_TRUE(IsWindowEnabled(window.button(design::kEndProgram)));
}

// The window gets the taskbar's interface through COM that it set up itself
// on its own thread: made on a fresh thread, where nothing else did so, the
// real opener still finds it once the shell says the button exists.
TEST(Form1TaskbarTest, TheWindowSetsUpComOnItsOwnThreadForTheRealTaskbarInterface) {
  testing::TempGame temp;
  bool window_made = false, button = false;
  std::thread fresh([&] {
    Form1 window(GetModuleHandleW(nullptr), temp.game());
    window_made = window.window() != nullptr;
    if (!window_made) return;
    SendMessageW(window.window(), RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
    button = window.has_taskbar_button();
  });
  fresh.join();
  ASSERT_TRUE(window_made);
  EXPECT_TRUE(button) << "no taskbar interface: COM was not set up on the window's thread";
}

// Reads the notice a window shows, as a player would: the popup it owns,
// closed with OK; records its title and what the taskbar showed meanwhile.
struct NoticeRead {
  static inline HWND owner = nullptr;
  static inline std::vector<std::wstring> titles;
  static inline std::vector<TaskProgress>* shown = nullptr;
  static inline std::vector<std::size_t> shown_while_read;

  static BOOL CALLBACK FindOwned(HWND candidate, LPARAM found) {
    if (GetWindow(candidate, GW_OWNER) != owner) return TRUE;
    *reinterpret_cast<HWND*>(found) = candidate;
    return FALSE;
  }
  static void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
    HWND popup = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindOwned, LPARAM(&popup));
    if (!popup) return;
    wchar_t title[128] = {};
    GetWindowTextW(popup, title, 128);
    titles.push_back(title);
    shown_while_read.push_back(shown ? shown->size() : 0);
    PostMessageW(popup, WM_COMMAND, IDOK, 0);
  }
};

TEST(Form1NoticeTest, AFailedCopyIsToldOnceInAPopupOfTheWindowWithTheTaskbarRedMeanwhileAndASuccessIsNot) {
  // A quit left queued by an earlier window's end would close any box at once.
  MSG left;
  while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
  }
  testing::TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "x");
  std::vector<TaskProgress> shown;
  RecordedTaskbar::Seen seen;
  const auto saved = TaskbarButtonOpener();
  TaskbarButtonOpener() = [&] { return std::make_unique<RecordedTaskbar>(shown, seen); };
  Form1 window(GetModuleHandleW(nullptr), temp.game());
  ASSERT_TRUE(window.window());
  SendMessageW(window.window(), RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  NoticeRead::owner = window.window();
  NoticeRead::shown = &shown;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, NoticeRead::Poll);
  SendMessageW(window.button(design::kCpyFls), BM_CLICK, 0, 0);  // no add-on folder: nothing copied
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  SendMessageW(window.button(design::kCpyFls), BM_CLICK, 0, 0);  // copied: nothing told
  KillTimer(nullptr, timer);
  TaskbarButtonOpener() = saved;
  ASSERT_EQ(NoticeRead::titles.size(), 1u);
  EXPECT_EQ(NoticeRead::titles[0], L"Tamsel Velmora - Config");
  ASSERT_GE(NoticeRead::shown_while_read[0], 1u);
  EXPECT_EQ(shown[NoticeRead::shown_while_read[0] - 1].state, TaskProgress::State::kError);
  EXPECT_EQ(shown.back().state, TaskProgress::State::kNone);
  EXPECT_TRUE(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"));
  EXPECT_TRUE(IsWindowEnabled(window.button(design::kCpyFls)));
}

}  // namespace
}  // namespace velmora

#pragma once

#include <windows.h>

#include <array>
#include <memory>

#include "app/commands.h"
#include "app/taskbar_win32.h"
#include "app/window_design.h"

namespace velmora {

// The utility's one window on Windows (plain Win32): a picture with four
// command buttons, laid out from the twips at the window's own DPI. A click
// runs its command on a worker while the window's thread goes on taking its
// messages; input that arrives meanwhile is dropped, not handled afterwards,
// and a request to close waits for the command.
class Form1 : private CommandWindow {
 public:
  Form1(HINSTANCE instance, GameFolder game, FileSystemOpener open_file_system = OpenFileSystem);
  ~Form1();
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  HWND window() const { return window_; }
  HWND button(design::Button which) const { return buttons_[which]; }
  UINT dpi() const { return dpi_; }
  // True once the shell has said the window's taskbar button exists and its
  // interface could be had.
  bool has_taskbar_button() const { return taskbar_ != nullptr; }
  // The program's exit status once the window is gone.
  int ExitStatus() const { return commands_.ExitStatus(); }
  // Shows the window centred on the work area and runs the message loop
  // until the window is gone.
  int Run(int show);
  // Handles one message of the loop; false when it is the end.
  bool HandleNextMessage(MSG& message);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateButtons();
  // Sizes the window and its buttons for `dpi_` and makes the font for it.
  void Layout();
  void Paint();
  void DrawButton(const DRAWITEMSTRUCT& item) const;
  bool ClickOnEnter(const MSG& message);
  void Clicked(int id);

  void CpyFls_Click();
  void CRTINI_Click();
  void Command1_Click();
  void EndProgram_Click();
  void CopyFiles();
  void CreateConfigINI();
  // What a command needs of the window.
  void ShowCopying(bool copying) override;
  void Wake() override;
  void ServeDroppingInput(const std::function<bool()>& done) override;
  void ShowProgress(const TaskProgress& progress) override;
  void Tell(const Notice& notice) override;
  void Focus(design::Button button) override;
  void SetAway(bool away) override;
  void End() override;
  // Dispatches every queued message but the window's clicks and keys.
  void DispatchDroppingInput();

  // COM on the window's thread, for the taskbar's interface: first, so that
  // it is there before the window and gone after it.
  struct ComOnThisThread {
    ComOnThisThread();
    ~ComOnThisThread();
    ComOnThisThread(const ComOnThisThread&) = delete;
    ComOnThisThread& operator=(const ComOnThisThread&) = delete;
    bool initialised;
  } com_;
  HINSTANCE instance_;
  ButtonCommands commands_;
  HWND window_ = nullptr;
  std::array<HWND, 4> buttons_{};
  HWND last_focus_ = nullptr;
  UINT dpi_ = 96;
  HFONT font_ = nullptr;
  HBITMAP picture_ = nullptr;
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  // In a high-contrast theme the buttons take the theme's colours.
  bool high_contrast_ = false;
  HANDLE command_done_ = nullptr;
  // Made once the shell says the window's taskbar button exists.
  std::unique_ptr<TaskbarButton> taskbar_;
  // A WM_QUIT taken while a command ran, posted again after it.
  bool quit_seen_ = false;
  WPARAM quit_code_ = 0;
};

}  // namespace velmora

#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "app/command_progress.h"

namespace velmora {

// A window's taskbar button as a progress bar.
class TaskbarButton {
 public:
  virtual ~TaskbarButton() = default;
  virtual void Show(HWND window, const TaskProgress& progress) = 0;
};

// The shell's ITaskbarList3, once the taskbar has made the window's button;
// empty where the interface is missing.
std::unique_ptr<TaskbarButton> OpenShellTaskbarButton();

// How a window opens its taskbar button; a test replaces it to record the calls.
std::function<std::unique_ptr<TaskbarButton>()>& TaskbarButtonOpener();

}  // namespace velmora

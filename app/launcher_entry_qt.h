#pragma once

#include "app/command_progress.h"

namespace velmora {

// Shows a command's progress on the program's button in docks and task
// managers that follow the launcher-entry convention on the session bus
// (KDE Plasma, Dash to Dock, Plank, Latte). Without a session bus it does
// nothing.
class LauncherEntry {
 public:
  void Show(const TaskProgress& progress);
};

}  // namespace velmora

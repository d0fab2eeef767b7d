#pragma once

// Which of Qt's platform plugins the window may use in this session. Qt
// aborts when none of those it tries can start, so the utility asks first
// and, with none, ends with a line that says why.
#include <string>

namespace velmora {

struct PlatformChoice {
  std::string platforms;  // for QT_QPA_PLATFORM, in order; empty: none works here
  std::string why_none;   // with none, one line for the user
};

// The user's own QT_QPA_PLATFORM stands. Otherwise Wayland when a
// compositor's socket is there and Qt's Wayland plugin is installed in
// `plugin_folder` (Qt's "platforms" folder), then X11 when DISPLAY names a
// display: "wayland;xcb", "wayland", "xcb" or none.
PlatformChoice ChoosePlatforms(const std::string& plugin_folder);

// Qt's plugin folder as Qt itself will find it once the application exists,
// which is after the platforms are chosen: a qt.conf beside the program (as
// the portable build carries) names it, its Plugins below its Prefix, both
// relative to the program's folder; without one, `built_in`.
std::string PluginFolder(const std::string& program_folder, const std::string& built_in);

}  // namespace velmora

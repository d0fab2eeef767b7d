#include "app/platform_choice.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace velmora {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The socket WAYLAND_DISPLAY names: a path, or a name in XDG_RUNTIME_DIR.
bool WaylandSocketThere() {
  const std::string display = Variable("WAYLAND_DISPLAY");
  if (display.empty()) return false;
  const std::string socket = display.front() == '/' ? display : Variable("XDG_RUNTIME_DIR") + "/" + display;
  struct stat st;
  return stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

bool WaylandPluginInstalled(const std::string& plugin_folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(plugin_folder, error))
    if (entry.path().filename().string().rfind("libqwayland", 0) == 0) return true;
  return false;
}

}  // namespace

PlatformChoice ChoosePlatforms(const std::string& plugin_folder) {
  if (const std::string chosen = Variable("QT_QPA_PLATFORM"); !chosen.empty()) return {chosen, ""};
  std::string platforms;
  const bool wayland = WaylandSocketThere();
  if (wayland && WaylandPluginInstalled(plugin_folder)) platforms = "wayland";
  if (!Variable("DISPLAY").empty()) platforms += platforms.empty() ? "xcb" : ";xcb";
  if (!platforms.empty()) return {platforms, ""};
  if (wayland)
    return {"", "velmora needs Qt's Wayland plugin (the package qt6-wayland) or an X display (DISPLAY)"};
  return {"", "velmora needs a graphical session: DISPLAY or WAYLAND_DISPLAY is not set"};
}

}  // namespace velmora

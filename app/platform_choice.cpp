#include "app/platform_choice.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/catalog.h"

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

std::string PluginFolder(const std::string& program_folder, const std::string& built_in) {
  std::ifstream conf(program_folder + "/qt.conf");
  if (!conf) return built_in;
  std::string prefix = ".", plugins = "plugins", section, line;
  while (std::getline(conf, line)) {
    const auto trim = [](std::string text) {
      text.erase(0, text.find_first_not_of(" \t\r"));
      text.erase(text.find_last_not_of(" \t\r") + 1);
      return text;
    };
    line = trim(line);
    if (!line.empty() && line.front() == '[') section = line;
    const std::size_t equals = line.find('=');
    if (section != "[Paths]" || equals == std::string::npos) continue;
    const std::string key = trim(line.substr(0, equals)), value = trim(line.substr(equals + 1));
    if (key == "Prefix") prefix = value;
    if (key == "Plugins") plugins = value;
  }
  const std::filesystem::path base = std::filesystem::path(program_folder) / prefix;
  return (base / plugins).lexically_normal().string();
}

PlatformChoice ChoosePlatforms(const std::string& plugin_folder) {
  if (const std::string chosen = Variable("QT_QPA_PLATFORM"); !chosen.empty()) return {chosen, ""};
  std::string platforms;
  const bool wayland = WaylandSocketThere();
  if (wayland && WaylandPluginInstalled(plugin_folder)) platforms = "wayland";
  if (!Variable("DISPLAY").empty()) platforms += platforms.empty() ? "xcb" : ";xcb";
  if (!platforms.empty()) return {platforms, ""};
  if (wayland)
    return {"", Tr("velmora needs Qt's Wayland plugin (the package qt6-wayland) or an X display (DISPLAY)")};
  return {"", Tr("velmora needs a graphical session: DISPLAY or WAYLAND_DISPLAY is not set")};
}

}  // namespace velmora

#include "app/game_chooser.h"

#include <filesystem>

namespace velmora {

std::string FirstExistingFolder(const std::vector<std::string>& candidates, const std::string& fallback) {
  std::error_code error;
  for (const std::string& candidate : candidates)
    if (std::filesystem::is_directory(candidate, error)) return candidate;
  return fallback;
}

std::string LinuxChooserStart(const std::string& home) {
  return FirstExistingFolder({home + "/.steam/steam/steamapps/common", home + "/.local/share/Steam/steamapps/common",
                              home + "/Games", home + "/.var/app/com.usebottles.bottles/data/bottles/bottles"},
                             home);
}

}  // namespace velmora

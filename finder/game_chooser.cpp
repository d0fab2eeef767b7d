#include "finder/game_chooser.h"

#include "finder/finder_disk.h"
#include "platform/game_folder.h"

namespace velmora {

std::string NearestExistingFolder(std::string path, const std::function<bool(const std::string&)>& is_folder) {
  while (!path.empty() && !is_folder(path)) {
    const std::size_t cut = path.find_last_of("/\\");
    if (cut == std::string::npos) return "";
    // A root keeps its separator ("/", "C:\\").
    const std::size_t keep = cut == 0 || (cut == 2 && path[1] == ':') ? cut + 1 : cut;
    if (keep == path.size()) return "";  // a root that is no folder
    path.resize(keep);
  }
  return path;
}

std::string ChooserStart(const std::string& remembered, const std::string& fallback,
                         const std::function<void()>& forget) {
  if (remembered.empty()) return fallback;
  if (HoldsGame(remembered)) return remembered;
  forget();
  return fallback;
}

#ifndef _WIN32
std::string FirstExistingFolder(const std::vector<std::string>& candidates, const std::string& fallback) {
  const FinderDisk disk;
  for (const std::string& candidate : candidates)
    if (disk.IsFolder(candidate)) return candidate;
  return fallback;
}

std::string LinuxChooserStart(const std::string& home) {
  return FirstExistingFolder({home + "/.steam/steam/steamapps/common", home + "/.local/share/Steam/steamapps/common",
                              home + "/Games", home + "/.var/app/com.usebottles.bottles/data/bottles/bottles"},
                             home);
}

#endif

}  // namespace velmora

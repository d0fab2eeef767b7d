#pragma once

// Where to look for the game folder when the utility was started elsewhere
// (from the application menu, in the home folder, say): where the
// system's folder chooser opens.
#include <functional>
#include <string>
#include <vector>

namespace velmora {

// `path` when it is a folder, else its nearest parent that is one (a
// folder given on the command line that is gone: the chooser opens near
// it); empty when none is. Paths may be separated by "/" or "\\".
std::string NearestExistingFolder(std::string path, const std::function<bool(const std::string&)>& is_folder);

// Where the chooser opens when the command line names no folder: the game
// folder remembered from the last run while it still holds a game, else
// `fallback`. `forget` is called for a remembered folder that no longer does.
std::string ChooserStart(const std::string& remembered, const std::string& fallback,
                         const std::function<void()>& forget);

#ifndef _WIN32
// The first of `candidates` that is a folder, else `fallback`.
std::string FirstExistingFolder(const std::vector<std::string>& candidates, const std::string& fallback);

// Where games are likely on Linux, below `home`: Steam's libraries, ~/Games
// (Lutris, Heroic), and Bottles' bottles; the chooser opens in the first
// there, else in `home`.
std::string LinuxChooserStart(const std::string& home);
#endif

}  // namespace velmora

#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A path below the game folder, one name per element. Every name is a single
// file or folder name: never empty, never "." or "..", never holding "\".
using GamePath = std::vector<std::string>;

// The folder the utility was started in, fixed for the life of the process.
// Paths are written the game's way: the folder, then names joined by "\".
class GameFolder {
 public:
  explicit GameFolder(std::string root);
  // The process's current folder.
  static GameFolder Current();

  const std::string& Root() const { return root_; }
  // The folder followed by "\" and a relative path such as "season02\tracks".
  std::string Join(std::string_view relative) const;
  // Splits a path of the form Join() gives back into names. Empty when the
  // path does not lie in or below the folder or names "." or "..".
  std::optional<GamePath> Parse(std::string_view path) const;

 private:
  std::string root_;
};

constexpr char kSeparator = '\\';

// True when `folder` (the system's path, in UTF-8) holds a game: at least
// one of Dromvik.exe, Config.ini or the folder season02, in any letter case.
bool HoldsGame(const std::string& folder);
// True when `folder` holds the game's program, Dromvik.exe, in any letter case.
bool HoldsGameProgram(const std::string& folder);

// True when `path` lies in `folder` or below it (names compared as given).
inline bool IsWithin(const GamePath& path, const GamePath& folder) {
  return folder.size() <= path.size() && std::equal(folder.begin(), folder.end(), path.begin());
}

// A name that a listing may hand on: a single plain name.
bool IsSafeName(std::string_view name);

// Splits a relative path of the game's form at "\" (empty parts dropped).
std::optional<GamePath> SplitRelative(std::string_view relative);

}  // namespace velmora

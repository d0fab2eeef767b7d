#include "app/launcher.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/file_system.h"
#include "platform/process.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
bool IsWindowsProgram(const std::string& path) {
  char magic[2] = {};
  std::ifstream file(path, std::ios::binary);
  return file.read(magic, 2) && magic[0] == 'M' && magic[1] == 'Z';
}

// The Wine prefix a folder lies in: the parent of a "drive_c" folder that
// sits beside a "system.reg".
std::optional<std::string> WinePrefixOf(const fs::path& folder) {
  std::error_code error;
  for (fs::path at = folder; at.has_relative_path(); at = at.parent_path()) {
    if (at.filename() == "drive_c" && fs::is_regular_file(at.parent_path() / "system.reg", error))
      return at.parent_path().string();
  }
  return std::nullopt;
}

std::optional<ProgramStart> GameStart(const GameFolder& game) {
  const std::optional<std::string> program = OpenFileSystem(game)->NativePath({kGameProgram});
  if (!program) return std::nullopt;
  ProgramStart start{{}, game.Root(), {}};
  if (IsWindowsProgram(*program)) {
    const std::optional<std::string> wine = FindOnPath("wine");
    if (!wine) return std::nullopt;
    start.arguments = {*wine, fs::path(*program).filename().string(), kGameArgument};
    const std::optional<std::string> prefix = WinePrefixOf(fs::absolute(game.Root()));
    if (prefix && !std::getenv("WINEPREFIX")) start.extra_environment.push_back("WINEPREFIX=" + *prefix);
  } else {
    start.arguments = {*program, kGameArgument};
  }
  return start;
}
#else
std::optional<ProgramStart> GameStart(const GameFolder& game) {
  // The game folder's own program, not one that happens to lie beside the
  // utility, which is where Windows would look first; only without one there
  // is it left to Windows' search.
  ProgramStart start{{kGameProgram, kGameArgument}, game.Root(), {}};
  start.program_file = OpenFileSystem(game)->NativePath({kGameProgram}).value_or("");
  return start;
}
#endif

}  // namespace

bool LaunchGame(const GameFolder& game) {
  const std::optional<ProgramStart> start = GameStart(game);
  return start && StartDetached(*start);
}

}  // namespace velmora

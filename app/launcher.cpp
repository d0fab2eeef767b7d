#include "app/launcher.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/unique_fd.h"
#endif

#include "platform/file_system.h"
#include "platform/process.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
enum class ProgramKind { kNone, kWindows, kNative };

// What lies at `path`. Only a regular file is a program, and only its first
// two bytes are read; opened without blocking, so that a pipe or a device
// there can hold nothing up.
ProgramKind KindOfProgram(const std::string& path) {
  const UniqueFd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!file || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ProgramKind::kNone;
  char magic[2] = {};
  const bool windows = pread(file.get(), magic, 2, 0) == 2 && magic[0] == 'M' && magic[1] == 'Z';
  return windows ? ProgramKind::kWindows : ProgramKind::kNative;
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
  const ProgramKind kind = program ? KindOfProgram(*program) : ProgramKind::kNone;
  if (kind == ProgramKind::kNone) return std::nullopt;
  ProgramStart start{{}, game.Root(), {}};
  if (kind == ProgramKind::kWindows) {
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

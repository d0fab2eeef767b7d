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
std::optional<fs::path> WinePrefixAlong(const fs::path& folder) {
  std::error_code error;
  for (fs::path at = folder; at.has_relative_path(); at = at.parent_path()) {
    if (at.filename() == "drive_c" && fs::is_regular_file(at.parent_path() / "system.reg", error))
      return at.parent_path();
  }
  return std::nullopt;
}

bool SameFolder(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The prefix of the game folder, found along its resolved path or along the
// path the user went by ($PWD, when it names the game folder): a game folder
// that is a link to another disk still belongs to the prefix it was reached in.
std::optional<fs::path> WinePrefixOf(const GameFolder& game) {
  if (auto prefix = WinePrefixAlong(fs::absolute(game.Root()))) return prefix;
  const char* pwd = std::getenv("PWD");
  if (pwd && *pwd == '/' && SameFolder(pwd, game.Root())) return WinePrefixAlong(fs::path(pwd).lexically_normal());
  return std::nullopt;
}

// A prefix that the system's wine must not run in: another user's (wine
// refuses it), or one that Steam's Proton made and keeps in step with its own
// wine ("pfx" beside Proton's "version", "pfx.lock" or "config_info").
bool IsForeignPrefix(const fs::path& prefix) {
  struct stat st;
  if (stat(prefix.c_str(), &st) != 0 || st.st_uid != geteuid()) return true;
  std::error_code error;
  const fs::path parent = prefix.parent_path();
  return prefix.filename() == "pfx" &&
         (fs::exists(parent / "version", error) || fs::exists(parent / "pfx.lock", error) ||
          fs::exists(parent / "config_info", error));
}

// The wine to run: $WINE, as winetricks takes it, or wine from PATH.
std::optional<std::string> FindWine() {
  const char* wine = std::getenv("WINE");
  if (!wine || !*wine) return FindOnPath("wine");
  if (std::string_view(wine).find('/') != std::string_view::npos) return std::string(wine);
  return FindOnPath(wine);
}

std::optional<ProgramStart> GameStart(const GameFolder& game) {
  const std::optional<std::string> program = OpenFileSystem(game)->NativePath({kGameProgram});
  const ProgramKind kind = program ? KindOfProgram(*program) : ProgramKind::kNone;
  if (kind == ProgramKind::kNone) return std::nullopt;
  ProgramStart start{{}, game.Root(), {}};
  if (kind == ProgramKind::kWindows) {
    const std::optional<std::string> wine = FindWine();
    if (!wine) return std::nullopt;
    start.arguments = {*wine, fs::path(*program).filename().string(), kGameArgument};
    const bool prefix_set = std::getenv("WINEPREFIX") && *std::getenv("WINEPREFIX");
    if (const std::optional<fs::path> prefix = WinePrefixOf(game); prefix && !prefix_set) {
      // Rather nothing than the system's wine rewriting a prefix not its own.
      if (IsForeignPrefix(*prefix)) return std::nullopt;
      start.extra_environment.push_back("WINEPREFIX=" + prefix->string());
    }
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

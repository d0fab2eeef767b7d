#include "app/launcher.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "finder/finder_disk.h"
#include "finder/game_managers.h"
#include "finder/steam_library.h"
#include "platform/ascii.h"
#include "platform/posix/unique_fd.h"
#endif

#include "platform/file_system.h"
#include "platform/process.h"

namespace velmora {
namespace {

#ifndef _WIN32
namespace fs = std::filesystem;
#endif

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

// The paths the game folder goes by: its resolved path, and the path the
// user went by ($PWD, when it names the game folder).
std::vector<fs::path> PathsOf(const GameFolder& game) {
  std::vector<fs::path> paths{fs::absolute(game.Root())};
  if (const std::string reached = GameFolderAsReached(game); reached != game.Root()) paths.push_back(reached);
  return paths;
}

// The prefix of the game folder, found along either of its `paths`: a game
// folder that is a link to another disk still belongs to the prefix it was
// reached in.
std::optional<fs::path> WinePrefixOf(const std::vector<fs::path>& paths) {
  for (const fs::path& path : paths)
    if (auto prefix = WinePrefixAlong(path)) return prefix;
  return std::nullopt;
}

// A prefix that Steam's Proton made and keeps in step with its own wine
// ("pfx" beside Proton's "version", "pfx.lock" or "config_info"), or that
// lies where Steam keeps Proton's prefixes ("steamapps/compatdata/ID/pfx"),
// marked or not.
bool IsProtonPrefix(const fs::path& prefix) {
  std::error_code error;
  const fs::path parent = prefix.parent_path();
  if (prefix.filename() != "pfx") return false;
  if (parent.parent_path().filename() == "compatdata" && IsSteamAppsFolder(parent.parent_path().parent_path().filename().string()))
    return true;
  return fs::exists(parent / "version", error) || fs::exists(parent / "pfx.lock", error) ||
         fs::exists(parent / "config_info", error);
}

bool IsOtherUsers(const fs::path& prefix) {
  struct stat st;
  return stat(prefix.c_str(), &st) != 0 || st.st_uid != geteuid();
}

// A game below a Steam library's "steamapps/common" runs in Proton's prefix
// (kept in "steamapps/compatdata"), whatever prefix lies around it.
bool InSteamLibrary(const fs::path& folder) {
  bool after_steamapps = false;
  for (const fs::path& part : folder) {
    if (after_steamapps && EqualsIgnoringCase(part.string(), "common")) return true;
    after_steamapps = IsSteamAppsFolder(part.string());
  }
  return false;
}

// Bottles' own flatpak keeps its bottles below this folder.
constexpr std::string_view kBottlesFlatpak = "com.usebottles.bottles";
constexpr const char* kSteamFlatpak = "com.valvesoftware.Steam";

bool IsBottle(const fs::path& prefix) {
  std::error_code error;
  return fs::is_regular_file(prefix / "bottle.yml", error) ||
         prefix.string().find("/.var/app/" + std::string(kBottlesFlatpak) + "/") != std::string::npos;
}

// Bottles' command line, which runs a program inside a bottle with the
// bottle's own runner: installed, or inside Bottles' flatpak.
std::optional<std::vector<std::string>> BottlesCommand() {
  if (const auto cli = FindOnPath("bottles-cli")) return std::vector<std::string>{*cli};
  if (const auto flatpak = FindOnPath("flatpak"))
    return std::vector<std::string>{*flatpak, "run", "--command=bottles-cli", std::string(kBottlesFlatpak)};
  return std::nullopt;
}

// Steam's command, installed or as Steam's flatpak: it hands the game to a
// running Steam, which starts it with Proton in the game's own prefix.
std::optional<std::vector<std::string>> SteamCommand() {
  if (const auto steam = FindOnPath("steam")) return std::vector<std::string>{*steam};
  const auto flatpak = FindOnPath("flatpak");
  const char* home = std::getenv("HOME");
  std::error_code error;
  const bool steam_flatpak = fs::is_directory("/var/lib/flatpak/app/" + std::string(kSteamFlatpak), error) ||
                             (home && fs::is_directory(std::string(home) + "/.local/share/flatpak/app/" + kSteamFlatpak, error));
  if (flatpak && steam_flatpak) return std::vector<std::string>{*flatpak, "run", kSteamFlatpak};
  return std::nullopt;
}

std::string JoinWords(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

// The wine to run: $WINE, as winetricks takes it, or wine from PATH.
std::optional<std::string> FindWine() {
  const char* wine = std::getenv("WINE");
  if (!wine || !*wine) return FindOnPath("wine");
  if (std::string_view(wine).find('/') != std::string_view::npos) return std::string(wine);
  return FindOnPath(wine);
}

using Result = LaunchOutcome::Result;

// How the game is started, or why it is not; `tried` names what is started.
Result GameStart(const GameFolder& game, ProgramStart& start, LaunchOutcome& told) {
  std::string& tried = told.tried;
  const std::optional<std::string> program = OpenFileSystem(game)->NativePath({kGameProgram});
  const ProgramKind kind = program ? KindOfProgram(*program) : ProgramKind::kNone;
  if (kind == ProgramKind::kNone) return Result::kNoProgram;
  start = {{}, game.Root(), {}};
  if (kind == ProgramKind::kNative) {
    start.arguments = {*program, kGameArgument};
    tried = *program;
    return Result::kStarted;
  }
  const std::string exe = fs::path(*program).filename().string();
  const std::optional<std::string> wine = FindWine();
  // A prefix named by the player is theirs to choose.
  const bool prefix_set = std::getenv("WINEPREFIX") && *std::getenv("WINEPREFIX");
  if (!prefix_set) {
    FinderDisk disk;
    const std::vector<fs::path> paths = PathsOf(game);
    for (const fs::path& path : paths) {
      if (!InSteamLibrary(path)) continue;
      // Steam starts its own games, with Proton and the game's prefix.
      const std::optional<SteamApp> app = SteamAppOf(path.string(), disk);
      const std::optional<std::string> id = app ? std::optional<std::string>(app->id) : std::nullopt;
      std::optional<std::vector<std::string>> steam = id ? SteamCommand() : std::nullopt;
      if (!steam) return Result::kSteamPrefix;
      told.starter = LaunchOutcome::Starter::kSteam;
      tried = JoinWords(*steam);
      start.arguments = std::move(*steam);
      start.arguments.insert(start.arguments.end(), {"-applaunch", *id, kGameArgument});
      return Result::kStarted;
    }
    const std::optional<fs::path> prefix = WinePrefixOf(paths);
    // Heroic and Lutris run each game with a wine and a prefix of their own.
    const char* home = std::getenv("HOME");
    std::vector<std::string> path_texts;
    for (const fs::path& path : paths) path_texts.push_back(path.string());
    const std::optional<ManagedWine> managed =
        home ? ManagedWineOf(path_texts, prefix ? prefix->string() : "", home, wine.value_or(""), disk)
             : std::nullopt;
    if (managed) {
      told.manager = managed->manager;
      told.runner = managed->runner;
      switch (managed->kind) {
        case ManagedWine::Kind::kProton:
          return Result::kManagerProton;
        case ManagedWine::Kind::kWineMissing:
          tried = managed->wine;
          return Result::kManagerWineMissing;
        case ManagedWine::Kind::kRunnerMissing:
          return Result::kManagerRunnerMissing;
        case ManagedWine::Kind::kWine:
          break;
      }
      // A prefix not made yet is made by the manager's wine at its first start.
      std::error_code error;
      if (fs::exists(managed->prefix, error) && IsOtherUsers(managed->prefix)) return Result::kForeignPrefix;
      start.arguments = {managed->wine, exe, kGameArgument};
      if (!managed->prefix.empty()) start.extra_environment.push_back("WINEPREFIX=" + managed->prefix);
      told.starter = LaunchOutcome::Starter::kManagerWine;
      tried = managed->wine;
      told.runner.clear();
      return Result::kStarted;
    }
    if (prefix) {
      // Rather nothing than the system's wine rewriting a prefix not its own.
      if (IsProtonPrefix(*prefix)) return Result::kSteamPrefix;
      if (IsBottle(*prefix)) {
        std::optional<std::vector<std::string>> bottles = BottlesCommand();
        if (!bottles) return Result::kBottlesPrefix;
        told.starter = LaunchOutcome::Starter::kBottles;
        tried = JoinWords(*bottles);
        start.arguments = std::move(*bottles);
        start.arguments.insert(start.arguments.end(),
                               {"run", "-b", BottleName(prefix->string(), disk), "-e", *program, "--args", kGameArgument});
        return Result::kStarted;
      }
      if (IsOtherUsers(*prefix)) return Result::kForeignPrefix;
      start.extra_environment.push_back("WINEPREFIX=" + prefix->string());
    }
  }
  if (!wine) return Result::kNoWine;
  start.arguments = {*wine, exe, kGameArgument};
  const char* named = std::getenv("WINE");
  told.starter = named && *named ? LaunchOutcome::Starter::kWineNamed : LaunchOutcome::Starter::kWine;
  tried = told.starter == LaunchOutcome::Starter::kWineNamed ? std::string(named) : *wine;
  return Result::kStarted;
}
#else
LaunchOutcome::Result GameStart(const GameFolder& game, ProgramStart& start, LaunchOutcome& told) {
  std::string& tried = told.tried;
  // The game folder's own program, not one that happens to lie beside the
  // utility, which is where Windows would look first.
  const std::unique_ptr<FileSystem> fs = OpenFileSystem(game);
  if (!fs->FileExists({kGameProgram})) return LaunchOutcome::Result::kNoProgram;
  start = {{kGameProgram, kGameArgument}, game.Root(), {}};
  start.program_file = fs->NativePath({kGameProgram}).value_or("");
  tried = kGameProgram;
  return LaunchOutcome::Result::kStarted;
}
#endif

}  // namespace

#ifndef _WIN32
std::string GameFolderAsReached(const GameFolder& game) {
  const char* pwd = std::getenv("PWD");
  if (pwd && *pwd == '/' && FinderDisk().SameFile(pwd, game.Root())) return fs::path(pwd).lexically_normal().string();
  return game.Root();
}
#endif

LaunchOutcome LaunchGame(const GameFolder& game, const std::function<void()>& started) {
  ProgramStart start;
  LaunchOutcome outcome;
  outcome.result = GameStart(game, start, outcome);
  start.watch_ms = kStartWatchMs;
  if (outcome.result == LaunchOutcome::Result::kStarted && !StartDetached(start, &outcome.failure, started))
    outcome.result = LaunchOutcome::Result::kStartFailed;
  return outcome;
}

}  // namespace velmora

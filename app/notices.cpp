#include "app/notices.h"

#include <map>

namespace velmora {
namespace {

#ifdef _WIN32
constexpr char kNativeSeparator = '\\';
constexpr const char* kSystem = "Windows";
#else
constexpr char kNativeSeparator = '/';
constexpr const char* kSystem = "The system";
#endif

// A path below the game folder as the player's file manager shows it.
std::string Shown(const GamePath& path, std::size_t names) {
  std::string shown;
  for (std::size_t i = 0; i < names && i < path.size(); ++i) {
    if (!shown.empty()) shown += kNativeSeparator;
    shown += path[i];
  }
  return shown;
}
std::string Shown(const GamePath& path) { return Shown(path, path.size()); }
std::string FolderOf(const GamePath& path) { return Shown(path, path.empty() ? 0 : path.size() - 1); }

std::string Files(std::size_t count) { return Counted(count) + (count == 1 ? " file" : " files"); }
std::string FilesWere(std::size_t count) { return Files(count) + (count == 1 ? " was" : " were"); }
std::string Them(std::size_t count) { return count == 1 ? "it" : "them"; }
std::string Their(std::size_t count) { return count == 1 ? "its" : "their"; }

// The player's words for a cause: what happened to `n` files, the first of
// them `first`.
std::string CopyGroup(Cause cause, std::size_t n, const GamePath& first, const GameFolder& game) {
  const std::string example = " (first: " + Shown(first) + ")";
  const std::string again = " then press Copy files again.";
  switch (cause) {
    case Cause::kFolderMissing:
      return "The folder " + FolderOf(first) + " is not in the add-on: " + FilesWere(n) + " not copied" + example +
             ". Make that folder, or install Velmora again," + again;
    case Cause::kLinked:
      return FilesWere(n) + " not copied because the way to " + Them(n) + " passes a link" + example +
             ": the utility writes only into real folders of the game folder.";
    case Cause::kNameTaken:
      return FilesWere(n) + " not copied because a folder or a link has " + Their(n) + " name" + example + ".";
    case Cause::kDiskFull:
      return "The disk is full: " + FilesWere(n) + " not copied" + example + ". Free some space," + again;
    case Cause::kNotAllowed: {
      std::string folder = game.Root();
      if (first.size() > 1) folder += kNativeSeparator + FolderOf(first);
      return std::string(kSystem) + " did not let the utility write in " + folder + ": " + FilesWere(n) +
             " not copied. Make sure you may change the game folder," + again;
    }
    case Cause::kReadOnlyDisk:
      return "The disk is read-only: " + FilesWere(n) + " not copied" + example + ".";
    case Cause::kInUse:
      return FilesWere(n) + " not copied because another program holds " + Them(n) + " open" + example +
             ". Close the game and wait a moment," + again;
    case Cause::kUnreadable:
      return Files(n) + " of the game could not be read" + example + ", so " + (n == 1 ? "it was" : "they were") +
             " not copied.";
    case Cause::kDiskError:
      return "The disk failed to read or write " + Files(n) + example + ". Check the disk," + again;
    case Cause::kChanged:
      return Files(n) + " changed while " + (n == 1 ? "it was" : "they were") +
             " copied: press Copy files again to copy " + Them(n) + ".";
    case Cause::kVanished:
      return FilesWere(n) + " removed from the game's folders before " + (n == 1 ? "it" : "they") +
             " could be copied" + example + ".";
    case Cause::kNone:
    case Cause::kAlreadyThere:
    case Cause::kOther:
      break;
  }
  return FilesWere(n) + " not copied" + example + ".";
}

// One word or two for a cause, for the details' list.
const char* Briefly(Cause cause) {
  switch (cause) {
    case Cause::kFolderMissing: return "folder missing";
    case Cause::kLinked: return "link on the way";
    case Cause::kNameTaken: return "name taken by a folder or link";
    case Cause::kDiskFull: return "disk full";
    case Cause::kNotAllowed: return "not allowed";
    case Cause::kReadOnlyDisk: return "disk read-only";
    case Cause::kInUse: return "in use";
    case Cause::kUnreadable: return "unreadable";
    case Cause::kDiskError: return "disk error";
    case Cause::kChanged: return "changed while copied";
    case Cause::kVanished: return "removed";
    default: return "failed";
  }
}

}  // namespace

std::string Counted(std::size_t count) {
  std::string digits = std::to_string(count);
  for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(std::size_t(at), ",");
  return digits;
}

std::optional<Notice> NoticeOf(const CopyOutcome& outcome, const GameFolder& game) {
  if (outcome.failures.empty()) return std::nullopt;
  struct Group {
    std::size_t count = 0;
    const GamePath* first = nullptr;
  };
  std::map<Cause, Group> groups;  // in the order of the causes
  for (const Failure& failure : outcome.failures) {
    Group& group = groups[failure.cause];
    if (group.count++ == 0) group.first = &failure.path;
  }
  Notice notice;
  notice.text = "Copy files copied " + Files(outcome.copied) + "; " + Counted(outcome.failures.size()) +
                " could not be copied.";
  for (const auto& [cause, group] : groups) {
    notice.text += "\n\n";
    if (cause == Cause::kFolderMissing && outcome.season_folder_missing) {
      notice.text += "The add-on's folder " + Shown(*SplitRelative("ZENTOSEASON\\tracks")) +
                     " is not in this game folder: install Velmora first, then press Copy files again.";
    } else {
      notice.text += CopyGroup(cause, group.count, *group.first, game);
    }
  }
  notice.details = "Files not copied:\n";
  for (const Failure& failure : outcome.failures)
    notice.details += Shown(failure.path) + " (" + Briefly(failure.cause) + ")\n";
  return notice;
}

std::optional<Notice> NoticeOf(const IniOutcome& outcome) {
  using Result = IniOutcome::Result;
  const std::string again = " then press Create INI-file again.";
  switch (outcome.result) {
    case Result::kWritten:
      return std::nullopt;
    case Result::kNoGameConfig:
      return Notice{"Config.ini is not in the game folder, so Qorvane.ini was not made. Start the game once, "
                    "which writes Config.ini,"+ again};
    case Result::kUnreadable:
      return Notice{"Config.ini could not be read whole (or it kept changing while it was read), so Qorvane.ini "
                    "was not made. Close the game if it runs," + again};
    case Result::kNotWritten:
      break;
  }
  std::string why;
  switch (outcome.cause) {
    case Cause::kNotAllowed:
      why = "it is read-only, or you may not change it or the game folder. Clear its read-only mark or make "
            "it yours,";
      break;
    case Cause::kDiskFull:
      why = "the disk is full. Free some space,";
      break;
    case Cause::kReadOnlyDisk:
      why = "the disk is read-only.";
      return Notice{"Qorvane.ini could not be written: " + why + " The old one, if any, is unchanged."};
    case Cause::kNameTaken:
      why = "a folder or a link has its name. Remove it,";
      break;
    case Cause::kInUse:
      why = "another program holds it open. Close that program,";
      break;
    case Cause::kLinked:
      why = "the game folder is reached through a link the utility does not write through.";
      return Notice{"Qorvane.ini could not be written: " + why + " The old one, if any, is unchanged."};
    default:
      why = "the disk failed to write it. Check the disk,";
      break;
  }
  return Notice{"Qorvane.ini could not be written: " + why + again + " The old one, if any, is unchanged."};
}

std::optional<Notice> NoticeOf(const LaunchOutcome& outcome, const GameFolder& game) {
  using Result = LaunchOutcome::Result;
  const std::string not_started = "The game was not started: ";
  switch (outcome.result) {
    case Result::kStarted:
      return std::nullopt;
    case Result::kNoProgram:
      return Notice{not_started + "Dromvik.exe is not in the game folder " + game.Root() +
                    ". Start Velmora Config in the folder the game is installed in."};
    case Result::kNoWine:
      return Notice{not_started +
                    "it is a Windows program, and no Wine was found to run it. Install 32-bit Wine:\n\n"
                    "Debian, Ubuntu, Mint: sudo dpkg --add-architecture i386 && sudo apt update && "
                    "sudo apt install wine wine32:i386\n"
                    "Fedora: sudo dnf install wine\n"
                    "Arch: enable the multilib repository, then sudo pacman -S wine\n\n"
                    "On a Steam Deck, start the game from Steam or the launcher that installed it, with "
                    "-config=Qorvane.INI among its launch options."};
    case Result::kSteamPrefix:
      return Notice{not_started +
                    "it belongs to Steam, which runs it with Proton; the system's Wine must not touch Proton's "
                    "files. Start it from Steam with -config=Qorvane.INI in its launch options (right-click "
                    "the game, Properties, Launch Options)."};
    case Result::kBottlesPrefix:
      return Notice{not_started +
                    "it lies in a Bottles bottle, and Bottles' command line (bottles-cli) was not found. Start "
                    "it from Bottles with -config=Qorvane.INI among its arguments."};
    case Result::kForeignPrefix:
      return Notice{not_started +
                    "its Wine prefix belongs to another user. Start the game as that user, or set WINEPREFIX "
                    "to a prefix of your own."};
    case Result::kStartFailed:
      return Notice{not_started + outcome.reason + "."};
  }
  return std::nullopt;
}

}  // namespace velmora

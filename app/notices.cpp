#include "app/notices.h"

#include <algorithm>
#include <map>

#include "platform/name_case.h"

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
std::string Them(std::size_t count) { return count == 1 ? "it" : "them"; }
std::string Their(std::size_t count) { return count == 1 ? "its" : "their"; }

// The files of one cause: how many, the first of them, and whether they
// lie in more than one folder.
struct Group {
  std::size_t count = 0;
  const GamePath* first = nullptr;
  bool spans_folders = false;
};

// What a group's files are called: one file by its path, more by their count.
std::string Subject(const Group& group) {
  return group.count == 1 ? "The file " + Shown(*group.first) : Files(group.count);
}
std::string WereNot(const Group& group) { return Subject(group) + (group.count == 1 ? " was" : " were") + " not"; }
// The first of several files, and where they lie; nothing for one file.
std::string Example(const Group& group) {
  if (group.count == 1) return "";
  return std::string(group.spans_folders ? " in several folders" : "") + " (first: " + Shown(*group.first) + ")";
}

// The player's words for a cause: what happened to a group of files.
std::string CopyGroup(Cause cause, const Group& group, const GameFolder& game) {
  const std::size_t n = group.count;
  const std::string example = Example(group);
  const std::string again = " then press Copy files again.";
  switch (cause) {
    case Cause::kFolderMissing:
      if (group.spans_folders)
        return "Folders of the add-on went missing: " + WereNot(group) + " copied" + example +
               ". Install Velmora again," + again;
      return "The folder " + FolderOf(*group.first) + " is not in the add-on: " + WereNot(group) + " copied" + example +
             ". Make that folder, or install Velmora again," + again;
    case Cause::kLinked:
      return WereNot(group) + " copied because the way to " + Them(n) + " passes a link" + example +
             ": the utility writes only into real folders of the game folder.";
    case Cause::kNameTaken:
      return WereNot(group) + " copied because a folder or a link has " + Their(n) + " name" + example + ".";
    case Cause::kDiskFull:
      return "The disk is full: " + WereNot(group) + " copied" + example + ". Free some space," + again;
    case Cause::kNotAllowed: {
      std::string folder = game.Root();
      if (group.first->size() > 1) folder += kNativeSeparator + FolderOf(*group.first);
      return std::string(kSystem) + " did not let the utility write in " + folder +
             (group.spans_folders ? " and other folders" : "") + ": " + WereNot(group) +
             " copied. Make sure you may change the game folder," + again;
    }
    case Cause::kReadOnlyDisk:
      return "The disk is read-only: " + WereNot(group) + " copied" + example +
             ". Mount it writable, or move the game to a disk you can write," + again;
    case Cause::kInUse:
      return WereNot(group) + " copied because another program holds " + Them(n) + " open" + example +
             ". Close the game and wait a moment," + again;
    case Cause::kUnreadable:
      return (n == 1 ? "The game's file " + Shown(*group.first) : Files(n) + " of the game") + " could not be read" +
             example + ", so " + (n == 1 ? "it was" : "they were") + " not copied.";
    case Cause::kDiskError:
      return "The disk failed to read or write " + (n == 1 ? Shown(*group.first) : Files(n)) + example +
             ". Check the disk," + again;
    case Cause::kChanged:
      return Subject(group) + " changed while " + (n == 1 ? "it was" : "they were") + " copied" + example +
             ": press Copy files again to copy " + Them(n) + ".";
    case Cause::kVanished:
      return Subject(group) + (n == 1 ? " was" : " were") + " removed from the game's folders before " +
             (n == 1 ? "it" : "they") + " could be copied" + example + ".";
    case Cause::kNotFlushed:
      return Subject(group) + (n == 1 ? " was" : " were") + " copied, but the disk did not confirm it saved " +
             Them(n) + example + ": " + (n == 1 ? "it is" : "they are") +
             " in place but may not survive a power cut. Check the disk," + again;
    case Cause::kNone:
    case Cause::kAlreadyThere:
    case Cause::kOther:
      break;
  }
  return WereNot(group) + " copied" + example + ": " + kSystem + " refused for a reason it did not give.";
}

// Why a folder of the add-on could not be made, and what to do.
std::string UnmadeFolder(const CopyOutcome::Unmade& unmade, const GameFolder& game) {
  const std::string folder = Shown(unmade.folder);
  const std::string files = Files(unmade.files) + (unmade.files == 1 ? " was" : " were") + " not copied";
  const std::string again = " then press Copy files again.";
  switch (unmade.cause) {
    case Cause::kNameTaken:
      return "The folder " + folder + " could not be made because a file or a link has its name: " + files +
             ". Move that file away," + again;
    case Cause::kLinked:
      return "The folder " + folder + " could not be made because the way to it passes a link: " + files +
             ". The utility writes only into real folders of the game folder.";
    case Cause::kNotAllowed:
      return std::string(kSystem) + " did not let the utility make the folder " + game.Root() + kNativeSeparator +
             folder + ": " + files + ". Make sure you may change the game folder," + again;
    default:
      return "The folder " + folder + " could not be made: " + files + ".";
  }
}

// Why the game's folder could not be listed, and what to do.
std::string UnlistedFolder(const CopyOutcome::Unlisted& unlisted, bool track_folder) {
  const std::string folder = Shown(unlisted.folder);
  const std::string again = " then press Copy files again.";
  const std::string what = track_folder ? "The game's track folder " + folder : "The game's folder " + folder;
  if (!unlisted.leads_to.empty())
    return what + (unlisted.link == unlisted.folder ? "" : " lies behind " + Shown(unlisted.link) + ", which") +
           " is a link to " + unlisted.leads_to + ", where nothing is: nothing in it was copied. Connect or mount "
           "the disk it is on," + again;
  switch (unlisted.cause) {
    case Cause::kFolderMissing:
      return what + " is not in the game folder, so nothing was copied. Start Velmora Config in the folder the "
                    "game is installed in.";
    case Cause::kNotAllowed:
      return std::string(kSystem) + " did not let the utility read " + folder +
             ": nothing in it was copied. Make sure you may read the game folder," + again;
    case Cause::kDiskError:
      return "The disk failed to read " + folder + ": nothing in it was copied. Check the disk," + again;
    case Cause::kLinked:
      return what + " leads back to a folder around it: nothing in it was copied.";
    default:
      return what + " could not be read: nothing in it was copied.";
  }
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
    case Cause::kNotFlushed: return "written, not confirmed";
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
  const GamePath track_folder = *SplitRelative("season02\\tracks");
  if (outcome.failures.empty() && outcome.unlisted.empty() && !outcome.nothing_to_copy) return std::nullopt;
  // A folder that could not be made for a cause of its own (a file in its
  // place, a link, a refusal) is told with the files meant for it; for a
  // cause of the whole disk (read-only, full) its files join that cause's
  // group, so that it is told once. Both spelled by the copy run alike.
  const auto told_apart = [](const CopyOutcome::Unmade& unmade) {
    return unmade.cause != Cause::kReadOnlyDisk && unmade.cause != Cause::kDiskFull &&
           unmade.cause != Cause::kDiskError;
  };
  const auto below_unmade = [&](const GamePath& path) {
    return std::any_of(outcome.unmade.begin(), outcome.unmade.end(), [&](const CopyOutcome::Unmade& unmade) {
      return told_apart(unmade) && IsWithin(path, unmade.folder);
    });
  };
  Notice notice;
  const std::size_t failed = outcome.failures.size();
  if (failed > 0)
    notice.text = "Copy files copied " + Files(outcome.copied) + "; " + Counted(failed) + " could not be copied.";
  else if (outcome.copied == 0)
    notice.text = "Copy files copied nothing.";
  else
    notice.text = "Copy files copied " + Files(outcome.copied) + ", but not all it should.";
  if (outcome.nothing_to_copy)
    notice.text = "Copy files found nothing to copy: the game's track folder " + Shown(track_folder) +
                  " holds no track files. Start Velmora Config in the folder the game is installed in.";
  for (const CopyOutcome::Unlisted& unlisted : outcome.unlisted) {
    const bool is_track_folder = unlisted.folder.size() == 2 &&
                                 NamesEqualIgnoringCase(unlisted.folder[0], track_folder[0]) &&
                                 NamesEqualIgnoringCase(unlisted.folder[1], track_folder[1]);
    notice.text += "\n\n" + UnlistedFolder(unlisted, is_track_folder);
  }
  for (const CopyOutcome::Unmade& unmade : outcome.unmade)
    if (told_apart(unmade)) notice.text += "\n\n" + UnmadeFolder(unmade, game);
  std::map<Cause, Group> groups;  // in the order of the causes
  for (const Failure& failure : outcome.failures) {
    if (below_unmade(failure.path)) continue;
    Group& group = groups[failure.cause];
    if (group.count++ == 0) group.first = &failure.path;
    else if (FolderOf(failure.path) != FolderOf(*group.first)) group.spans_folders = true;
  }
  for (const auto& [cause, group] : groups) {
    notice.text += "\n\n";
    if (cause == Cause::kFolderMissing && outcome.season_folder_missing) {
      notice.text += "The add-on's folder " + Shown(*SplitRelative("ZENTOSEASON\\tracks")) +
                     " is not in this game folder: install Velmora first, then press Copy files again.";
    } else {
      notice.text += CopyGroup(cause, group, game);
    }
  }
  if (failed == 0) return notice;
  notice.details = "Files not copied:\n";
  for (const Failure& failure : outcome.failures)
    notice.details += Shown(failure.path) + " (" +
                      (below_unmade(failure.path) ? "its folder could not be made" : Briefly(failure.cause)) + ")\n";
  return notice;
}

std::optional<Notice> NoticeOf(const IniOutcome& outcome) {
  using Result = IniOutcome::Result;
  const std::string again = " then press Create INI-file again.";
  const std::string name(outcome.name);
  switch (outcome.result) {
    case Result::kWritten: {
      // Where names are case-sensitive an older spelling is another file.
      const std::string other =
          outcome.other_spelling.empty()
              ? ""
              : " The game folder also holds an older " + outcome.other_spelling +
                    ", which the game does not read here, as names in this folder are case-sensitive; it was left "
                    "as it was, and you may delete it.";
      if (outcome.no_season_key)
        return Notice{name + " was made, but Config.ini has no SEASONDIR line, so the game will not race "
                      "Velmora's season. Start the game once and leave it from its menus, which writes a whole "
                      "Config.ini," + again + other};
      if (!other.empty()) return Notice{name + " was made." + other};
      return std::nullopt;
    }
    case Result::kNoGameConfig:
      return Notice{"Config.ini is not in the game folder, so " + name +
                    " was not made. Start the game once, which writes Config.ini," + again};
    case Result::kUnreadable:
      switch (outcome.cause) {
        case Cause::kNameTaken:
          return Notice{"Config.ini in the game folder is a folder, not the game's configuration, so " + name +
                        " was not made. Move that folder away, start the game once, which writes Config.ini," +
                        again};
        case Cause::kNotAllowed:
          return Notice{std::string(kSystem) + " did not let the utility read Config.ini, so " + name +
                        " was not made. Make sure you may read the game folder's files," + again};
        case Cause::kChanged:
        case Cause::kInUse:
          return Notice{"Config.ini kept changing while it was read, so " + name +
                        " was not made. Close the game if it runs," + again};
        case Cause::kDiskError:
          return Notice{"The disk failed to read Config.ini, so " + name + " was not made. Check the disk," + again};
        default:
          return Notice{"Config.ini could not be read, so " + name + " was not made."};
      }
    case Result::kNotWritten:
      break;
  }
  const std::string unchanged = outcome.replacing ? " The old one is unchanged." : "";
  const std::string could_not = name + " could not be written: ";
  switch (outcome.cause) {
    case Cause::kNotAllowed:
      if (outcome.replacing)
        return Notice{could_not + "it is read-only, or you may not change it or the game folder. Clear its "
                      "read-only mark or make it yours," + again + unchanged};
      return Notice{could_not + "you may not write in the game folder. Make sure you may change it," + again};
    case Cause::kDiskFull:
      return Notice{could_not + "the disk is full. Free some space," + again + unchanged};
    case Cause::kReadOnlyDisk:
      return Notice{could_not + "the disk is read-only. Mount it writable, or move the game to a disk you can "
                    "write," + again + unchanged};
    case Cause::kNameTaken:
      return Notice{could_not + "a folder or a link has its name. Remove it," + again};
    case Cause::kInUse:
      return Notice{could_not + "another program holds it open. Close the game," + again + unchanged};
    case Cause::kLinked:
      return Notice{could_not + "the game folder is reached through a link the utility does not write through." +
                    unchanged};
    case Cause::kNotFlushed:
      return Notice{name + " was written, but the disk did not confirm it saved it: the new file is in place but "
                    "may not survive a power cut. Check the disk," + again};
    default:
      return Notice{could_not + "the disk failed to write it. Check the disk," + again + unchanged};
  }
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
    case Result::kManagerProton:
      return Notice{not_started + outcome.manager +
                    " runs it with Proton, and only " + outcome.manager +
                    " can start it that way. In " + outcome.manager +
                    ", add -config=Qorvane.INI to the game's arguments (the game's Settings, Advanced, Game "
                    "Arguments), then start it from " + outcome.manager + "."};
    case Result::kManagerWineMissing:
      return Notice{not_started + outcome.manager + " runs it with " +
                    (outcome.reason.empty() ? std::string("a wine") : outcome.reason) + " (" + outcome.tried +
                    "), which is not there. In " + outcome.manager +
                    ", choose an installed Wine in the game's settings, then press Run Velmora again."};
    case Result::kManagerRunnerMissing:
      return Notice{not_started + outcome.manager + " runs it with its Wine runner " +
                    (outcome.reason.empty() ? std::string("of its own") : outcome.reason) +
                    ", which is not installed, and the system's Wine would update the game's prefix for itself. "
                    "In " + outcome.manager +
                    ", install that runner (Preferences, Runners, Wine) or choose an installed one in the game's "
                    "configuration (Runner options, Wine version), then press Run Velmora again."};
    case Result::kStartFailed: {
      const std::string tried = outcome.tried.empty() ? "it" : outcome.tried;
      // A starter that ended with a failure says what it said, its last lines.
      if (outcome.reason.starts_with("ended with status"))
        return Notice{not_started + tried + " " + outcome.reason +
                      (outcome.reason.find('\n') == std::string::npos ? "." : "")};
      return Notice{not_started + tried + " could not be run: " + outcome.reason + "."};
    }
  }
  return std::nullopt;
}

}  // namespace velmora

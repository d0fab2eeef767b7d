#include "app/notices.h"

#include <algorithm>
#include <map>

#include "app/catalog.h"
#include "platform/ascii.h"
#include "platform/name_case.h"

namespace velmora {
namespace {

#ifdef _WIN32
constexpr char kNativeSeparator = '\\';
#else
constexpr char kNativeSeparator = '/';
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

// The files of one cause: how many, the first of them, and whether they
// lie in more than one folder.
struct Group {
  std::size_t count = 0;
  const GamePath* first = nullptr;
  bool spans_folders = false;
};

// What a group of files came to, and what the player may do about it.
struct Told {
  std::string what;
  std::string advice = {};
};

// Joins the sentences told, each ended already, by a space.
std::string Sentences(std::initializer_list<std::string> parts) {
  std::string joined;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    if (!joined.empty()) joined += ' ';
    joined += part;
  }
  return joined;
}

// Where several files of a group lie: the first, and whether others lie
// elsewhere. Nothing for one file, which its sentence names.
std::string WhereTheyLie(const Group& group) {
  if (group.count == 1) return "";
  const std::string first = Shown(*group.first);
  if (group.spans_folders) return Fill(Tr("They lie in several folders; the first is {path}."), {{"path", first}});
  return Fill(Tr("The first is {path}."), {{"path", first}});
}

// The advice for a folder the utility may not write in: that folder's
// permissions, or the game folder's own.
std::string MayChange(const std::string& folder) {
  if (folder.empty())
    return Tr("Make sure you may change the game folder (its owner, its permissions, its read-only mark), then "
              "press Copy files again.");
  return Fill(Tr("Make sure you may change the folder {folder} (its owner, its permissions, its read-only mark), "
                 "then press Copy files again."),
              {{"folder", folder}});
}

// The player's words for a cause: what happened to a group of files.
Told CopyGroup(Cause cause, const Group& group) {
  const std::size_t n = group.count;
  const bool one = n == 1;
  const std::string path = Shown(*group.first);
  const std::string count = Counted(n);
  const std::string folder = FolderOf(*group.first);
  // One file by its path, more by their count.
  const auto say = [&](const std::string& for_one, const std::string& for_many) {
    return Fill(one ? for_one : for_many, {{"path", path}, {"count", count}, {"folder", folder}});
  };
  switch (cause) {
    case Cause::kFolderMissing:
      if (group.spans_folders)
        return {Fill(TrN("Folders of the add-on went missing: {count} file was not copied.",
                         "Folders of the add-on went missing: {count} files were not copied.", n),
                     {{"count", count}}),
                Tr("Install Velmora again, then press Copy files again.")};
      return {say(Tr("The folder {folder} is not in the add-on: the file {path} was not copied."),
                  TrN("The folder {folder} is not in the add-on: {count} file was not copied.",
                      "The folder {folder} is not in the add-on: {count} files were not copied.", n)),
              Tr("Make that folder, or install Velmora again, then press Copy files again.")};
    case Cause::kLinked:
      return {say(Tr("The file {path} was not copied because the way to it passes a link."),
                  TrN("{count} file was not copied because the way to it passes a link.",
                      "{count} files were not copied because the way to them passes a link.", n)),
              Tr("The utility writes only into real folders of the game folder: put a real folder in the link's "
                 "place, then press Copy files again.")};
    case Cause::kNameTaken:
      return {say(Tr("The file {path} was not copied because a folder or a link has its name."),
                  TrN("{count} file was not copied because a folder or a link has its name.",
                      "{count} files were not copied because folders or links have their names.", n)),
              Tr("Move those folders or links away, then press Copy files again.")};
    case Cause::kDiskFull:
      return {say(Tr("The disk is full: the file {path} was not copied."),
                  TrN("The disk is full: {count} file was not copied.", "The disk is full: {count} files were not copied.",
                      n)),
              Tr("Free some space, then press Copy files again.")};
    case Cause::kNotAllowed:
      if (group.spans_folders)
        return {Fill(TrN("The utility was not allowed to write in several folders: {count} file was not copied.",
                         "The utility was not allowed to write in several folders: {count} files were not copied.", n),
                     {{"count", count}}),
                MayChange(folder)};
      return {say(Tr("The utility was not allowed to write in {folder}: the file {path} was not copied."),
                  TrN("The utility was not allowed to write in {folder}: {count} file was not copied.",
                      "The utility was not allowed to write in {folder}: {count} files were not copied.", n)),
              MayChange(folder)};
    case Cause::kReadOnlyDisk:
      return {say(Tr("The disk is read-only: the file {path} was not copied."),
                  TrN("The disk is read-only: {count} file was not copied.",
                      "The disk is read-only: {count} files were not copied.", n)),
              Tr("Mount it writable, or move the game to a disk you can write, then press Copy files again.")};
    case Cause::kInUse:
      return {say(Tr("The file {path} was not copied because another program holds it open."),
                  TrN("{count} file was not copied because another program holds it open.",
                      "{count} files were not copied because other programs hold them open.", n)),
              Tr("Close the game and wait a moment, then press Copy files again.")};
    case Cause::kUnreadable:
      return {say(Tr("The game's file {path} could not be read, so it was not copied."),
                  TrN("{count} file of the game could not be read, so it was not copied.",
                      "{count} files of the game could not be read, so they were not copied.", n)),
              Tr("Make sure you may read the game's files, then press Copy files again.")};
    case Cause::kDiskError:
      return {say(Tr("The disk failed to read or write {path}."),
                  TrN("The disk failed to read or write {count} file.", "The disk failed to read or write {count} files.",
                      n)),
              Tr("Check the disk, then press Copy files again.")};
    case Cause::kChanged:
      return {say(Tr("The file {path} changed while it was copied."),
                  TrN("{count} file changed while it was copied.", "{count} files changed while they were copied.", n)),
              Tr("Press Copy files again to copy what changed.")};
    case Cause::kVanished:
      return {say(Tr("The file {path} was removed from the game's folders before it could be copied."),
                  TrN("{count} file was removed from the game's folders before it could be copied.",
                      "{count} files were removed from the game's folders before they could be copied.", n))};
    case Cause::kNotFlushed:
      return {say(Tr("The file {path} was copied, but the disk did not confirm that it saved it: it is in place but "
                     "may not survive a power cut."),
                  TrN("{count} file was copied, but the disk did not confirm that it saved it: it is in place but may "
                      "not survive a power cut.",
                      "{count} files were copied, but the disk did not confirm that it saved them: they are in place "
                      "but may not survive a power cut.",
                      n)),
              Tr("Check the disk, then press Copy files again.")};
    case Cause::kNone:
    case Cause::kAlreadyThere:
    case Cause::kOther:
      break;
  }
  return {say(Tr("The file {path} was not copied: the system refused for a reason it did not give."),
              TrN("{count} file was not copied: the system refused for a reason it did not give.",
                  "{count} files were not copied: the system refused for a reason it did not give.", n))};
}

// Why a folder of the add-on could not be made, and what to do.
std::string UnmadeFolder(const CopyOutcome::Unmade& unmade) {
  const std::string folder = Shown(unmade.folder);
  const std::size_t n = unmade.files;
  const auto fill = [&](const std::string& text) { return Fill(text, {{"folder", folder}, {"count", Counted(n)}}); };
  switch (unmade.cause) {
    case Cause::kNameTaken:
      return Sentences({fill(TrN("The folder {folder} could not be made because a file or a link has its name: {count} "
                                 "file was not copied.",
                                 "The folder {folder} could not be made because a file or a link has its name: {count} "
                                 "files were not copied.",
                                 n)),
                        Tr("Move that file or link away, then press Copy files again.")});
    case Cause::kLinked:
      return Sentences({fill(TrN("The folder {folder} could not be made because the way to it passes a link: {count} "
                                 "file was not copied.",
                                 "The folder {folder} could not be made because the way to it passes a link: {count} "
                                 "files were not copied.",
                                 n)),
                        Tr("The utility writes only into real folders of the game folder: put a real folder in the "
                           "link's place, then press Copy files again.")});
    case Cause::kNotAllowed:
      return Sentences({fill(TrN("The utility was not allowed to make the folder {folder}: {count} file was not copied.",
                                 "The utility was not allowed to make the folder {folder}: {count} files were not copied.",
                                 n)),
                        MayChange(FolderOf(unmade.folder))});
    default:
      return fill(TrN("The folder {folder} could not be made: {count} file was not copied.",
                      "The folder {folder} could not be made: {count} files were not copied.", n));
  }
}

// Why the game's folder could not be listed, and what to do.
std::string UnlistedFolder(const CopyOutcome::Unlisted& unlisted, bool track_folder, bool game_is_here) {
  const std::string folder = Shown(unlisted.folder);
  const auto fill = [&](const std::string& text) {
    return Fill(text, {{"folder", folder}, {"link", Shown(unlisted.link)}, {"target", unlisted.leads_to}});
  };
  if (!unlisted.leads_to.empty()) {
    const std::string advice = Tr("Connect or mount the disk it is on, then press Copy files again.");
    if (unlisted.link == unlisted.folder)
      return Sentences({fill(Tr("The game's folder {folder} is a link to {target}, where nothing is: nothing in it was "
                                "copied.")),
                        advice});
    return Sentences({fill(Tr("The game's folder {folder} lies behind {link}, which is a link to {target}, where "
                              "nothing is: nothing in it was copied.")),
                      advice});
  }
  switch (unlisted.cause) {
    case Cause::kFolderMissing:
      if (!track_folder)
        return Sentences({fill(Tr("The game's folder {folder} went missing while it was copied, so nothing in it was "
                                  "copied.")),
                          Tr("Press Copy files again.")});
      // In a game folder whose game lacks its tracks, the game needs mending,
      // not the utility another folder.
      if (game_is_here)
        return Sentences({fill(Tr("The game's track folder {folder} is not in the game folder, so nothing was copied.")),
                          Tr("The game's installation is not whole: repair it (in Steam: Properties, Installed Files, "
                             "Verify integrity of game files) or install the game again, then press Copy files "
                             "again.")});
      return Sentences({fill(Tr("The game's track folder {folder} is not in the game folder, so nothing was copied.")),
                        Tr("Start Velmora Config in the folder the game is installed in.")});
    case Cause::kNotAllowed:
      return Sentences({fill(Tr("The utility was not allowed to read {folder}: nothing in it was copied.")),
                        Tr("Make sure you may read the game folder, then press Copy files again.")});
    case Cause::kDiskError:
      return Sentences({fill(Tr("The disk failed to read {folder}: nothing in it was copied.")),
                        Tr("Check the disk, then press Copy files again.")});
    case Cause::kLinked:
      return fill(Tr("The game's folder {folder} leads back to a folder around it: nothing in it was copied."));
    default:
      return fill(Tr("The game's folder {folder} could not be read: nothing in it was copied."));
  }
}

// One word or two for a cause, for the details' list.
std::string Briefly(Cause cause) {
  switch (cause) {
    case Cause::kFolderMissing: return TrC("why a file was not copied", "folder missing");
    case Cause::kLinked: return TrC("why a file was not copied", "link on the way");
    case Cause::kNameTaken: return TrC("why a file was not copied", "name taken by a folder or link");
    case Cause::kDiskFull: return TrC("why a file was not copied", "disk full");
    case Cause::kNotAllowed: return TrC("why a file was not copied", "not allowed");
    case Cause::kReadOnlyDisk: return TrC("why a file was not copied", "disk read-only");
    case Cause::kInUse: return TrC("why a file was not copied", "in use");
    case Cause::kUnreadable: return TrC("why a file was not copied", "unreadable");
    case Cause::kDiskError: return TrC("why a file was not copied", "disk error");
    case Cause::kChanged: return TrC("why a file was not copied", "changed while copied");
    case Cause::kVanished: return TrC("why a file was not copied", "removed");
    default: return TrC("why a file was not copied", "failed");
  }
}

// A missing folder has no spelling on the disk: where files name it in
// more than one letter case (the season folder and the pits folder's
// tree), all are told with the first, so that it is one folder.
std::vector<Failure> OneSpellingPerMissingFolder(std::vector<Failure> failures) {
  std::map<std::string, std::string> spelled;  // upper-case folder, its first spelling
  for (Failure& failure : failures) {
    if (failure.cause != Cause::kFolderMissing) continue;
    std::string upper;
    for (std::size_t i = 0; i + 1 < failure.path.size(); ++i) {
      upper += ToUpperAscii(failure.path[i]) + '\\';
      const auto [at, first] = spelled.emplace(upper, failure.path[i]);
      if (!first && NamesEqualIgnoringCase(at->second, failure.path[i])) failure.path[i] = at->second;
    }
  }
  return failures;
}

}  // namespace

std::string ChooserTitle() { return Tr("Choose the game folder (the folder of Dromvik.exe)"); }

std::string NoGameHere() {
  return Tr("This folder holds no game: neither Dromvik.exe, Config.ini nor season02 is in it. Choose the game "
            "folder, or Cancel.");
}

std::string Counted(std::size_t count) {
  std::string digits = std::to_string(count);
  // TRANSLATORS: put between each three digits of a large count: "5,600".
  const std::string separator = TrC("thousands separator", ",");
  for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(std::size_t(at), separator);
  return digits;
}

std::optional<Notice> NoticeOf(const CopyOutcome& outcome, const GameFolder& game) {
  const GamePath track_folder = *SplitRelative("season02\\tracks");
  if (outcome.failures.empty() && outcome.unlisted.empty() && !outcome.nothing_to_copy) return std::nullopt;
  const std::vector<Failure> failures = OneSpellingPerMissingFolder(outcome.failures);
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
  // Copies in place whose folder's flush failed are copied, not failed.
  const std::size_t unconfirmed = std::size_t(std::count_if(
      failures.begin(), failures.end(), [](const Failure& failure) { return failure.cause == Cause::kNotFlushed; }));
  const std::size_t failed = failures.size() - unconfirmed;
  const std::string copied = Counted(outcome.copied);
  // Two counts, two sentences: each takes the plural form of its own.
  if (failed > 0)
    notice.text = Sentences({Fill(TrN("Copy files copied {count} file.", "Copy files copied {count} files.", outcome.copied),
                                  {{"count", copied}}),
                             Fill(TrN("{count} file could not be copied.", "{count} files could not be copied.", failed),
                                  {{"count", Counted(failed)}})});
  else if (outcome.copied == 0)
    notice.text = Tr("Copy files copied nothing.");
  else
    notice.text = Fill(TrN("Copy files copied {count} file, but not all it should.",
                           "Copy files copied {count} files, but not all it should.", outcome.copied),
                       {{"count", copied}});
  if (outcome.nothing_to_copy)
    notice.text = Sentences({Fill(Tr("Copy files found nothing to copy: the game's track folder {folder} holds no "
                                     "track files."),
                                  {{"folder", Shown(track_folder)}}),
                             Tr("Start Velmora Config in the folder the game is installed in.")});
  const bool game_is_here = HoldsGameProgram(game.Root());
  for (const CopyOutcome::Unlisted& unlisted : outcome.unlisted) {
    const bool is_track_folder = unlisted.folder.size() == 2 &&
                                 NamesEqualIgnoringCase(unlisted.folder[0], track_folder[0]) &&
                                 NamesEqualIgnoringCase(unlisted.folder[1], track_folder[1]);
    notice.text += "\n\n" + UnlistedFolder(unlisted, is_track_folder, game_is_here);
  }
  for (const CopyOutcome::Unmade& unmade : outcome.unmade)
    if (told_apart(unmade)) notice.text += "\n\n" + UnmadeFolder(unmade);
  std::map<Cause, Group> groups;  // in the order of the causes
  for (const Failure& failure : failures) {
    if (below_unmade(failure.path)) continue;
    Group& group = groups[failure.cause];
    if (group.count++ == 0) group.first = &failure.path;
    else if (FolderOf(failure.path) != FolderOf(*group.first)) group.spans_folders = true;
  }
  for (const auto& [cause, group] : groups) {
    notice.text += "\n\n";
    if (cause == Cause::kFolderMissing && outcome.season_folder_missing) {
      notice.text += Sentences({Fill(Tr("The add-on's folder {folder} is not in this game folder."),
                                     {{"folder", Shown(*SplitRelative("ZENTOSEASON\\tracks"))}}),
                                Tr("Install Velmora first, then press Copy files again.")});
    } else {
      const Told told = CopyGroup(cause, group);
      notice.text += Sentences({told.what, WhereTheyLie(group), told.advice});
    }
  }
  // The details: each file a line, sorted by path, those not copied first.
  std::vector<std::string> not_copied, not_confirmed;
  for (const Failure& failure : failures) {
    if (failure.cause == Cause::kNotFlushed) {
      not_confirmed.push_back(Shown(failure.path));
      continue;
    }
    const std::string why = below_unmade(failure.path) ? TrC("why a file was not copied", "its folder could not be made")
                                                        : Briefly(failure.cause);
    not_copied.push_back(Shown(failure.path) + " (" + why + ")");
  }
  const auto list = [&](std::vector<std::string>& lines, const std::string& heading) {
    if (lines.empty()) return;
    std::sort(lines.begin(), lines.end());
    if (!notice.details.empty()) notice.details += '\n';
    notice.details += heading + '\n';
    for (const std::string& line : lines) notice.details += line + '\n';
  };
  list(not_copied, Tr("Files not copied:"));
  list(not_confirmed, Tr("Files copied, but not confirmed saved by the disk:"));
  return notice;
}

std::optional<Notice> NoticeOf(const IniOutcome& outcome) {
  using Result = IniOutcome::Result;
  const std::string name(outcome.name);
  const auto fill = [&](const std::string& text) { return Fill(text, {{"name", name}}); };
  switch (outcome.result) {
    case Result::kWritten: {
      std::string told;
      if (outcome.no_season_key)
        told = Sentences({fill(Tr("{name} was made, but Config.ini has no SEASONDIR line, so the game will not race "
                                  "Velmora's season.")),
                          Tr("Start the game once and leave it from its menus, which writes a whole Config.ini, then "
                             "press Create INI-file again.")});
      for (const auto& [key, folder] : outcome.missing_folders) {
        const std::string named(folder);
        std::string lacks;
        if (key == "OPTIONSDIR")
          lacks = Tr("The game folder has no folder {folder}, where {name} has the game keep Velmora's options.");
        else if (key == "REPLAYDIR")
          lacks = Tr("The game folder has no folder {folder}, where {name} has the game keep Velmora's replays.");
        else
          lacks = Tr("The game folder has no folder {folder}, where {name} has the game keep Velmora's saved games.");
        told = Sentences({told.empty() ? fill(Tr("{name} was made.")) : told, Fill(lacks, {{"folder", named}, {"name", name}})});
      }
      if (!outcome.missing_folders.empty())
        told = Sentences({told, TrN("Make that folder in the game folder, or install Velmora again.",
                                    "Make those folders in the game folder, or install Velmora again.",
                                    outcome.missing_folders.size())});
      // Where names are case-sensitive an older spelling is another file.
      if (!outcome.other_spelling.empty())
        told = Sentences({told.empty() ? fill(Tr("{name} was made.")) : told,
                          Fill(Tr("The game folder also holds an older {other}, which the game does not read here, as "
                                  "names in this folder are case-sensitive; it was left as it was, and you may delete "
                                  "it."),
                               {{"other", outcome.other_spelling}})});
      if (told.empty()) return std::nullopt;
      return Notice{told};
    }
    case Result::kNoGameConfig:
      return Notice{Sentences({fill(Tr("Config.ini is not in the game folder, so {name} was not made.")),
                               Tr("Start the game once, which writes Config.ini, then press Create INI-file again.")})};
    case Result::kUnreadable:
      switch (outcome.cause) {
        case Cause::kNameTaken:
          return Notice{Sentences({fill(Tr("Config.ini in the game folder is a folder, not the game's configuration, "
                                           "so {name} was not made.")),
                                   Tr("Move that folder away and start the game once, which writes Config.ini, then "
                                      "press Create INI-file again.")})};
        case Cause::kNotAllowed:
          return Notice{Sentences({fill(Tr("The utility was not allowed to read Config.ini, so {name} was not made.")),
                                   Tr("Make sure you may read the game folder's files, then press Create INI-file "
                                      "again.")})};
        case Cause::kInUse:
          return Notice{Sentences({fill(Tr("Another program holds Config.ini open, so {name} was not made.")),
                                   Tr("Close the game if it runs, then press Create INI-file again.")})};
        case Cause::kChanged:
          return Notice{Sentences({fill(Tr("Config.ini kept changing while it was read, so {name} was not made.")),
                                   Tr("Close the game if it runs, then press Create INI-file again.")})};
        case Cause::kDiskError:
          return Notice{Sentences({fill(Tr("The disk failed to read Config.ini, so {name} was not made.")),
                                   Tr("Check the disk, then press Create INI-file again.")})};
        default:
          return Notice{fill(Tr("Config.ini could not be read, so {name} was not made."))};
      }
    case Result::kNotWritten:
      break;
  }
  const std::string unchanged = outcome.replacing ? Tr("The old one is unchanged.") : "";
  switch (outcome.cause) {
    case Cause::kNotAllowed:
      if (outcome.replacing)
        return Notice{Sentences({fill(Tr("{name} could not be written: it is read-only, or you may not change it or the "
                                         "game folder.")),
                                 Tr("Clear its read-only mark or make it yours, then press Create INI-file again."),
                                 unchanged})};
      return Notice{Sentences({fill(Tr("{name} could not be written: you may not write in the game folder.")),
                               Tr("Make sure you may change the game folder, then press Create INI-file again.")})};
    case Cause::kDiskFull:
      return Notice{Sentences({fill(Tr("{name} could not be written: the disk is full.")),
                               Tr("Free some space, then press Create INI-file again."), unchanged})};
    case Cause::kReadOnlyDisk:
      return Notice{Sentences({fill(Tr("{name} could not be written: the disk is read-only.")),
                               Tr("Mount it writable, or move the game to a disk you can write, then press Create "
                                  "INI-file again."),
                               unchanged})};
    case Cause::kNameTaken:
      return Notice{Sentences({fill(Tr("{name} could not be written: a folder or a link has its name.")),
                               Tr("Move it away, then press Create INI-file again.")})};
    case Cause::kInUse:
      return Notice{Sentences({fill(Tr("{name} could not be written: another program holds it open.")),
                               Tr("Close the game, then press Create INI-file again."), unchanged})};
    case Cause::kLinked:
      return Notice{Sentences({fill(Tr("{name} could not be written: the game folder is reached through a link the "
                                       "utility does not write through.")),
                               unchanged})};
    case Cause::kNotFlushed:
      return Notice{Sentences({fill(Tr("{name} was written, but the disk did not confirm that it saved it: the new "
                                       "file is in place but may not survive a power cut.")),
                               Tr("Check the disk, then press Create INI-file again.")})};
    default:
      return Notice{Sentences({fill(Tr("{name} could not be written: the disk failed to write it.")),
                               Tr("Check the disk, then press Create INI-file again."), unchanged})};
  }
}

namespace {

// Why a starter did not start the game, and what to do, by what it was.
std::string StartFailed(const LaunchOutcome& outcome) {
  using Starter = LaunchOutcome::Starter;
  const StartFailure& failure = outcome.failure;
  const bool refused = !failure.refusal.empty();
  // What the starter was, by which it failed ("{program}" the command
  // tried), and what to do about it.
  std::string what, advice;
  switch (outcome.starter) {
    case Starter::kWineNamed:
      what = refused ? Tr("The game was not started: the wine that WINE names ({program}) could not be run: {reason}.")
                     : Tr("The game was not started: the wine that WINE names ({program}) ended with status {status}.");
      advice = Tr("Unset WINE, or point it at a working wine, then press Run Velmora again.");
      break;
    case Starter::kWine:
      what = refused ? Tr("The game was not started: wine ({program}) could not be run: {reason}.")
                     : Tr("The game was not started: wine ({program}) ended with status {status}.");
      break;
    case Starter::kSteam:
      what = refused ? Tr("The game was not started: Steam ({program}) could not be run: {reason}.")
                     : Tr("The game was not started: Steam ({program}) ended with status {status}.");
      advice = Tr("Start Steam, then press Run Velmora again.");
      break;
    case Starter::kBottles:
      what = refused ? Tr("The game was not started: Bottles' command line ({program}) could not be run: {reason}.")
                     : Tr("The game was not started: Bottles' command line ({program}) ended with status {status}.");
      advice = Tr("Start the game from Bottles, with -config=Qorvane.INI among its arguments.");
      break;
    case Starter::kManagerWine:
      what = refused ? Tr("The game was not started: {manager}'s wine ({program}) could not be run: {reason}.")
                     : Tr("The game was not started: {manager}'s wine ({program}) ended with status {status}.");
      advice = Tr("In {manager}, choose a working Wine in the game's settings, then press Run Velmora again.");
      break;
    case Starter::kGame:
      what = refused ? Tr("The game was not started: {program} could not be run: {reason}.")
                     : Tr("The game was not started: {program} ended with status {status}.");
      break;
  }
  const auto fill = [&](const std::string& text) {
    return Fill(text, {{"program", outcome.tried.empty() ? std::string(kGameProgram) : outcome.tried},
                       {"reason", failure.refusal},
                       {"status", std::to_string(failure.status)},
                       {"manager", outcome.manager}});
  };
  std::string told = Sentences({fill(what), fill(advice)});
  // A starter that ended with a failure says what it said, its last lines.
  if (!failure.said.empty()) told += "\n\n" + Tr("It said:") + "\n\n" + failure.said;
  return told;
}

}  // namespace

std::optional<Notice> NoticeOf(const LaunchOutcome& outcome, const GameFolder& game) {
  using Result = LaunchOutcome::Result;
  const auto fill = [&](const std::string& text) {
    return Fill(text, {{"folder", game.Root()},
                       {"manager", outcome.manager},
                       {"runner", outcome.runner},
                       {"program", outcome.tried}});
  };
  switch (outcome.result) {
    case Result::kStarted:
      return std::nullopt;
    case Result::kNoProgram:
      return Notice{Sentences({fill(Tr("The game was not started: Dromvik.exe is not in the game folder {folder}.")),
                               Tr("Start Velmora Config in the folder the game is installed in.")})};
    case Result::kNoWine:
      return Notice{Tr("The game was not started: it is a Windows program, and no Wine was found to run it. Install "
                       "32-bit Wine:") +
                    "\n\n"
                    "Debian, Ubuntu, Mint: sudo dpkg --add-architecture i386 && sudo apt update && "
                    "sudo apt install wine wine32:i386\n"
                    "Fedora: sudo dnf install wine\n" +
                    Tr("Arch: enable the multilib repository, then run: sudo pacman -S wine") + "\n\n" +
                    Tr("On a Steam Deck, start the game from Steam or the launcher that installed it, with "
                       "-config=Qorvane.INI among its launch options.")};
    case Result::kSteamPrefix:
      return Notice{Tr("The game was not started: it belongs to Steam, which runs it with Proton; the system's Wine "
                       "must not touch Proton's files. Start it from Steam with -config=Qorvane.INI in its launch "
                       "options (right-click the game, Properties, Launch Options).")};
    case Result::kBottlesPrefix:
      return Notice{Tr("The game was not started: it lies in a Bottles bottle, and Bottles' command line "
                       "(bottles-cli) was not found. Start it from Bottles with -config=Qorvane.INI among its "
                       "arguments.")};
    case Result::kForeignPrefix:
      return Notice{Tr("The game was not started: its Wine prefix belongs to another user. Start the game as that "
                       "user, or set WINEPREFIX to a prefix of your own.")};
    case Result::kManagerProton:
      return Notice{fill(Tr("The game was not started: {manager} runs it with Proton, and only {manager} can start it "
                            "that way. In {manager}, add -config=Qorvane.INI to the game's arguments (the game's "
                            "Settings, Advanced, Game Arguments), then start it from {manager}."))};
    case Result::kManagerWineMissing:
      return Notice{fill(outcome.runner.empty()
                             ? Tr("The game was not started: {manager} runs it with a wine at {program}, which is not "
                                  "there. In {manager}, choose an installed Wine in the game's settings, then press "
                                  "Run Velmora again.")
                             : Tr("The game was not started: {manager} runs it with {runner} ({program}), which is not "
                                  "there. In {manager}, choose an installed Wine in the game's settings, then press "
                                  "Run Velmora again."))};
    case Result::kManagerRunnerMissing:
      return Notice{fill(outcome.runner.empty()
                             ? Tr("The game was not started: {manager} runs it with a Wine runner of its own, which is "
                                  "not installed, and the system's Wine would update the game's prefix for itself. In "
                                  "{manager}, install that runner (Preferences, Runners, Wine) or choose an installed "
                                  "one in the game's configuration (Runner options, Wine version), then press Run "
                                  "Velmora again.")
                             : Tr("The game was not started: {manager} runs it with its Wine runner {runner}, which is "
                                  "not installed, and the system's Wine would update the game's prefix for itself. In "
                                  "{manager}, install that runner (Preferences, Runners, Wine) or choose an installed "
                                  "one in the game's configuration (Runner options, Wine version), then press Run "
                                  "Velmora again."))};
    case Result::kStartFailed:
      return Notice{StartFailed(outcome)};
  }
  return std::nullopt;
}

}  // namespace velmora

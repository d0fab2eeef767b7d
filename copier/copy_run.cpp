#include "copier/copy_run.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "copier/copy_plan.h"
#include "copier/copy_progress.h"
#include "platform/name_case.h"

namespace velmora {
namespace {

GamePath Below(GamePath folder, const std::string& name) {
  folder.push_back(name);
  return folder;
}

// Visits the listed files of one folder pair that the plan does not leave out.
// The source folder is done with afterwards; the target only when no later
// pair writes into it (`target_again`): a copy still waiting for its name
// must be found there in any letter case.
bool VisitPair(const GameFolder& game, FileSystem& fs, const PlanLists& plan, const LeftOutNames& left_out,
               std::size_t j, bool target_again, FileListing& files, const PlanVisitor& visit) {
  const std::optional<GamePath> source = game.Parse(plan.dirs.List(j));
  const std::optional<GamePath> target = game.Parse(plan.dirs2.List(j));
  if (!source || !target) return true;
  // Each pit file is copied once, by the pits copy.
  if (IsPitsPair(*source, *target)) return true;
  // A folder that cannot be listed is passed over, not mistaken for the last one listed.
  if (const FileResult listed = files.SetPath(fs, plan.dirs.List(j)); !listed) {
    // A link back to a folder around it ends the walk there, and is no failure.
    if (visit.unlisted && listed.cause != Cause::kLinked) visit.unlisted(*source, listed.cause);
    return true;
  }
  GamePath file = Below(*source, "");  // one path, its last name changed for each file
  for (std::size_t k = 0; k < files.ListCount(); ++k) {
    const std::string_view name = files.List(k);
    if (left_out.Has(name)) continue;
    file.back() = name;
    if (!visit.file(file, *target, Replace::kNo)) return false;
  }
  fs.DoneWith(*source);
  if (!target_again) fs.DoneWith(*target);
  return true;
}

bool VisitFolderReplacing(FileSystem& fs, const GamePath& from, const GamePath& to, const PlanVisitor& visit) {
  const Found<std::vector<Entry>> entries = fs.List(from);
  if (!entries) {
    // A game without pits has nothing to copy there; a link back to a
    // folder around it ends the walk.
    if (visit.unlisted && entries.cause != Cause::kFolderMissing && entries.cause != Cause::kLinked)
      visit.unlisted(from, entries.cause);
    return true;
  }
  if (visit.folder) visit.folder(to);
  for (const Entry& entry : *entries) {
    const bool go_on = entry.kind == EntryKind::kFolder
                           ? VisitFolderReplacing(fs, Below(from, entry.name), Below(to, entry.name), visit)
                           : visit.file(Below(from, entry.name), to, Replace::kYes);
    if (!go_on) return false;
  }
  fs.DoneWith(from);
  fs.DoneWith(to);
  return true;
}

}  // namespace

void VisitPlan(const GameFolder& game, FileSystem& fs, const PlanLists& plan, FileListing& files,
               const PlanVisitor& visit) {
  // Targets are upper-cased: two pairs write into one folder when their
  // targets are equal.
  std::unordered_map<std::string_view, std::size_t> pairs_into;  // the plan outlives the map
  for (std::size_t j = 0; j < plan.dirs2.ListCount(); ++j) ++pairs_into[plan.dirs2.List(j)];
  const LeftOutNames left_out(plan.not_copy);
  for (std::size_t j = 0; j < plan.dirs.ListCount(); ++j)
    if (!VisitPair(game, fs, plan, left_out, j, --pairs_into[plan.dirs2.List(j)] > 0, files, visit)) return;
  VisitFolderReplacing(fs, *SplitRelative(kPitsSource), *SplitRelative(kPitsTarget), visit);
}

namespace {

// Counts each file the plan takes where it ended up.
class OutcomeCount {
 public:
  // A pits folder that could not be made: the files meant for it and for
  // the folders below it fail for the same cause.
  void Made(const GamePath& folder, FileResult result) {
    if (result || result.cause == Cause::kAlreadyThere) return;
    Cause cause = result.cause;
    bool inherited = false;
    if (!folder.empty())
      if (const auto parent = unmade_.find(GamePath(folder.begin(), folder.end() - 1)); parent != unmade_.end()) {
        cause = parent->second;
        inherited = true;
      }
    // A folder whose parent is missing (the add-on's season) is told as missing.
    if (!inherited && cause != Cause::kFolderMissing) outcome_.unmade.push_back({folder, cause, 0});
    unmade_[folder] = cause;
  }
  void Met(const GamePath& file, const GamePath& target_folder, Replace replace, FileResult result) {
    ++met_;
    if (result.cause == Cause::kFolderMissing) {
      if (const auto unmade = unmade_.find(target_folder); unmade != unmade_.end()) {
        result = unmade->second;
        for (CopyOutcome::Unmade& top : outcome_.unmade)
          if (IsWithin(target_folder, top.folder)) ++top.files;
      }
    }
    if (result.cause == Cause::kFolderMissing && replace == Replace::kNo && target_folder.size() > 2) {
      GamePath target = target_folder;  // the add-on's season may lack that circuit
      target.push_back(file.back());
      missing_circuits_.push_back({std::move(target), result.cause});
      return;
    }
    if (result) {
      ++outcome_.copied;
    } else if (result.cause == Cause::kAlreadyThere) {
      ++outcome_.already_there;
    } else if (result.cause == Cause::kUnreadable || result.cause == Cause::kVanished) {
      outcome_.failures.push_back({file, result.cause});  // the game's own file is at fault
    } else {
      GamePath target = target_folder;
      target.push_back(file.back());
      outcome_.failures.push_back({std::move(target), result.cause});
    }
  }
  void Unlisted(const GamePath& folder, Cause cause) { outcome_.unlisted.push_back({folder, cause, {}}); }
  // Copies handed on that failed later count as failed, not as copied;
  // one in place whose folder's flush failed is copied all the same.
  void Settled(std::vector<Failure> late) {
    for (Failure& failure : late) {
      if (failure.cause != Cause::kNotFlushed && outcome_.copied > 0) --outcome_.copied;
      if (failure.cause == Cause::kAlreadyThere) ++outcome_.already_there;
      else outcome_.failures.push_back(std::move(failure));
    }
  }
  CopyOutcome Take(FileSystem& fs) {
    outcome_.season_folder_missing = !fs.NativePath(*SplitRelative(kSeasonFolder)).has_value();
    // Without the add-on every circuit is missing, and that is told; with
    // it, a circuit it lacks is its choice.
    if (outcome_.season_folder_missing)
      std::move(missing_circuits_.begin(), missing_circuits_.end(), std::back_inserter(outcome_.failures));
    outcome_.nothing_to_copy = met_ == 0 && outcome_.unlisted.empty();
    SpellAsOnDisk(fs);
    return std::move(outcome_);
  }

 private:
  // Each path as the disk spells it: a folder of the add-on that is not
  // there takes the name the game's own folder gives it.
  void SpellAsOnDisk(FileSystem& fs) {
    std::map<GamePath, GamePath> folders;
    const auto spelled = [&](const GamePath& path) {
      const auto [at, added] = folders.try_emplace(path);
      if (!added) return at->second;
      FileSystem::Spelled on_disk = fs.AsOnDisk(path);
      if (on_disk.found < path.size() && path.size() > 1) {
        GamePath game = path;
        game.front() = *SplitRelative(kTrackFolder)->begin();
        const FileSystem::Spelled in_game = fs.AsOnDisk(game);
        for (std::size_t i = std::max<std::size_t>(on_disk.found, 1); i < in_game.found; ++i)
          on_disk.names[i] = in_game.names[i];
      }
      return at->second = std::move(on_disk.names);
    };
    for (Failure& failure : outcome_.failures) {
      const std::string name = failure.path.back();
      failure.path.pop_back();
      failure.path = spelled(failure.path);
      failure.path.push_back(name);
    }
    for (CopyOutcome::Unmade& folder : outcome_.unmade) folder.folder = spelled(folder.folder);
    for (CopyOutcome::Unlisted& folder : outcome_.unlisted) {
      if (folder.cause == Cause::kFolderMissing) {
        const std::size_t names = LinkToNowhere(fs, folder.folder, folder.leads_to);
        if (names > 0) folder.link = spelled(GamePath(folder.folder.begin(), folder.folder.begin() + std::ptrdiff_t(names)));
      }
      folder.folder = spelled(folder.folder);
    }
  }

  // The first link on the way to `path` that leads nowhere (to a disk that
  // is not mounted): how many names lead to it, 0 when there is none, and
  // where it leads in `leads_to`.
  static std::size_t LinkToNowhere(FileSystem& fs, const GamePath& path, std::string& leads_to) {
    for (std::size_t names = 1; names <= path.size(); ++names) {
      const GamePath on_the_way(path.begin(), path.begin() + std::ptrdiff_t(names));
      if (!fs.NativePath(on_the_way)) return 0;
      if (std::optional<std::string> target = fs.LinkToNowhere(on_the_way)) {
        leads_to = std::move(*target);
        return names;
      }
    }
    return 0;
  }

  CopyOutcome outcome_;
  std::size_t met_ = 0;
  std::map<GamePath, Cause> unmade_;  // pits folders that could not be made
  std::vector<Failure> missing_circuits_;  // files of circuits the add-on lacks
};

}  // namespace

CopyOutcome CopySeasonFiles(const GameFolder& game, FileSystem& fs, const CopyLists& lists, Progress& progress) {
  const bool told = progress.Wanted();
  if (told) progress.Report(0, 0);
  // A fresh plan every run: the lists would otherwise grow with each one.
  lists.not_copy.Clear();
  lists.dirs.Clear();
  lists.dirs2.Clear();
  AddSkipNames(lists.not_copy);
  AddFolderPairs(game, fs, lists.dir1, lists.dirs, lists.dirs2);
  const PlanLists plan{lists.not_copy, lists.dirs, lists.dirs2};
  std::optional<CopyProgress> tracked;
  if (told) tracked.emplace(game, plan, fs.Counters(), progress);
  OutcomeCount count;
  VisitPlan(game, fs, plan, lists.file1,
            {[&](const GamePath& file, const GamePath& to, Replace replace) {
               const FileResult result = fs.CopyFile(file, to, replace);
               if (tracked && result.cause == Cause::kAlreadyThere) tracked->AlreadyThere();
               count.Met(file, to, replace, result);
               return true;
             },
             [&](const GamePath& folder) { count.Made(folder, fs.CreateFolder(folder)); },
             [&](const GamePath& folder, Cause cause) { count.Unlisted(folder, cause); }});
  count.Settled(fs.Settle());
  if (tracked) tracked->Finish();
  return count.Take(fs);
}

void CopyFolderReplacing(FileSystem& fs, const GamePath& from, const GamePath& to) {
  VisitFolderReplacing(fs, from, to,
                       {[&](const GamePath& file, const GamePath& folder, Replace replace) {
                          fs.CopyFile(file, folder, replace);
                          return true;
                        },
                        [&](const GamePath& folder) { fs.CreateFolder(folder); }});
}

}  // namespace velmora

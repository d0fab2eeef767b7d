#include "copier/copy_run.h"

#include <algorithm>
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
bool VisitPair(const GameFolder& game, FileSystem& fs, const PlanLists& plan, std::size_t j,
               bool target_again, FileListing& files, const PlanVisitor& visit) {
  const std::optional<GamePath> source = game.Parse(plan.dirs.List(j));
  const std::optional<GamePath> target = game.Parse(plan.dirs2.List(j));
  if (!source || !target) return true;
  // Each pit file is copied once, by the pits copy.
  if (IsPitsPair(*source, *target)) return true;
  // A folder that cannot be listed is passed over, not mistaken for the last one listed.
  if (!files.SetPath(fs, plan.dirs.List(j))) return true;
  GamePath file = Below(*source, "");  // one path, its last name changed for each file
  for (std::size_t k = 0; k < files.ListCount(); ++k) {
    const std::string& name = files.List(k);
    if (IsLeftOut(name, plan.not_copy)) continue;
    file.back() = name;
    if (!visit.file(file, *target, Replace::kNo)) return false;
  }
  fs.DoneWith(*source);
  if (!target_again) fs.DoneWith(*target);
  return true;
}

bool VisitFolderReplacing(FileSystem& fs, const GamePath& from, const GamePath& to, const PlanVisitor& visit) {
  const std::optional<std::vector<Entry>> entries = fs.List(from);
  if (!entries) return true;
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
  for (std::size_t j = 0; j < plan.dirs.ListCount(); ++j)
    if (!VisitPair(game, fs, plan, j, --pairs_into[plan.dirs2.List(j)] > 0, files, visit)) return;
  VisitFolderReplacing(fs, *SplitRelative(kPitsSource), *SplitRelative(kPitsTarget), visit);
}

namespace {

// Counts each file the plan takes where it ended up.
class OutcomeCount {
 public:
  void Met(const GamePath& file, const GamePath& target_folder, FileResult result) {
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
  // Copies handed on that failed later count as failed, not as copied.
  void Settled(std::vector<Failure> late) {
    for (Failure& failure : late) {
      if (outcome_.copied > 0) --outcome_.copied;
      if (failure.cause == Cause::kAlreadyThere) ++outcome_.already_there;
      else outcome_.failures.push_back(std::move(failure));
    }
  }
  CopyOutcome Take(FileSystem& fs) {
    const bool folder_missing = std::any_of(outcome_.failures.begin(), outcome_.failures.end(),
                                            [](const Failure& failure) { return failure.cause == Cause::kFolderMissing; });
    if (folder_missing) {
      outcome_.season_folder_missing = !fs.NativePath(*SplitRelative(kSeasonFolder)).has_value();
    }
    return std::move(outcome_);
  }

 private:
  CopyOutcome outcome_;
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
               if (tracked && result.cause == Cause::kAlreadyThere) tracked->AlreadyThere(fs.FileSize(file).value_or(0));
               count.Met(file, to, result);
               return true;
             },
             [&](const GamePath& folder) { fs.CreateFolder(folder); }});
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

#include "copier/copy_run.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "copier/copy_plan.h"
#include "copier/plan_sizes.h"
#include "platform/name_case.h"

namespace velmora {
namespace {

GamePath Below(GamePath folder, const std::string& name) {
  folder.push_back(name);
  return folder;
}

// How long a copy runs before its files are sized.
constexpr std::chrono::milliseconds kSizeAfter(500);

bool SameIgnoringCase(const GamePath& a, const GamePath& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), NamesEqualIgnoringCase);
}

// Visits the listed files of one folder pair that the plan does not leave out.
bool VisitPair(const GameFolder& game, FileSystem& fs, const PlanLists& plan, std::size_t j,
               FileListing& files, const PlanVisitor& visit) {
  const std::optional<GamePath> source = game.Parse(plan.dirs.List(j));
  const std::optional<GamePath> target = game.Parse(plan.dirs2.List(j));
  if (!source || !target) return true;
  // The pits folder's own pair: the pits copy that follows replaces every
  // file it would copy, so each pit file is copied once, by that.
  if (SameIgnoringCase(*source, *SplitRelative(kPitsSource)) && SameIgnoringCase(*target, *SplitRelative(kPitsTarget)))
    return true;
  // A folder that cannot be listed is passed over, not mistaken for the last one listed.
  if (!files.SetPath(fs, plan.dirs.List(j))) return true;
  GamePath file = Below(*source, "");  // one path, its last name changed for each file
  for (std::size_t k = 0; k < files.ListCount(); ++k) {
    const std::string& name = files.List(k);
    if (IsLeftOut(name, plan.not_copy)) continue;
    file.back() = name;
    if (!visit.file(file, *target, Replace::kNo)) return false;
  }
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
  return true;
}

}  // namespace

void VisitPlan(const GameFolder& game, FileSystem& fs, const PlanLists& plan, FileListing& files,
               const PlanVisitor& visit) {
  for (std::size_t j = 0; j < plan.dirs.ListCount(); ++j)
    if (!VisitPair(game, fs, plan, j, files, visit)) return;
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

CopyOutcome CopySeasonFiles(const GameFolder& game, FileSystem& fs, const CopyLists& lists, Progress& progress,
                            FileSystem* sizing_fs) {
  OutcomeCount count;
  if (progress.Wanted()) progress.Report(0, 0);
  // A fresh plan every run: the lists would otherwise grow with each one.
  lists.not_copy.Clear();
  lists.dirs.Clear();
  lists.dirs2.Clear();
  AddSkipNames(lists.not_copy);
  AddFolderPairs(game, fs, lists.dir1, lists.dirs, lists.dirs2);
  const PlanLists plan{lists.not_copy, lists.dirs, lists.dirs2};
  // Sized on another thread, so that progress is told in bytes; only once
  // the copy has lasted long enough for a player to watch it, so that a
  // short run, as one with everything there already is, never pays for it.
  std::optional<PlanSizes> sizes;
  const auto size_from = std::chrono::steady_clock::now() + kSizeAfter;
  std::size_t visited = 0;
  VisitPlan(game, fs, plan, lists.file1,
            {[&](const GamePath& file, const GamePath& to, Replace replace) {
               count.Met(file, to, fs.CopyFile(file, to, replace));
               ++visited;
               if (sizing_fs && progress.Wanted()) {
                 if (!sizes && std::chrono::steady_clock::now() >= size_from) sizes.emplace(game, *sizing_fs, plan);
                 const PlanSizes::Sum sum = sizes ? sizes->Through(visited) : PlanSizes::Sum{0, 0};
                 progress.Report(sum.done, sum.total);
               }
               return true;
             },
             [&](const GamePath& folder) { fs.CreateFolder(folder); }});
  count.Settled(fs.Settle());
  // The end is told, however long after the last figure it comes.
  if (sizes) {
    const PlanSizes::Sum sum = sizes->Through(visited);
    if (sum.total != 0) progress.Report(sum.done, sum.total);
  }
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

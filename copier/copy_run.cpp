#include "copier/copy_run.h"

#include <algorithm>
#include <optional>

#include "copier/copy_plan.h"
#include "platform/name_case.h"

namespace velmora {
namespace {

GamePath Below(GamePath folder, const std::string& name) {
  folder.push_back(name);
  return folder;
}

bool SameIgnoringCase(const GamePath& a, const GamePath& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), NamesEqualIgnoringCase);
}

// Copies the listed files of one folder pair that the plan does not leave out.
void CopyPair(const GameFolder& game, FileSystem& fs, const CopyLists& lists, std::size_t j) {
  const std::optional<GamePath> source = game.Parse(lists.dirs.List(j));
  const std::optional<GamePath> target = game.Parse(lists.dirs2.List(j));
  if (!source || !target) return;
  // The pits folder's own pair: the pits copy that follows replaces every
  // file it would copy, so each pit file is copied once, by that.
  if (SameIgnoringCase(*source, *SplitRelative(kPitsSource)) && SameIgnoringCase(*target, *SplitRelative(kPitsTarget)))
    return;
  // A folder that cannot be listed is passed over, not mistaken for the last one listed.
  if (!lists.file1.SetPath(fs, lists.dirs.List(j))) return;
  GamePath file = Below(*source, "");  // one path, its last name changed for each file
  for (std::size_t k = 0; k < lists.file1.ListCount(); ++k) {
    const std::string& name = lists.file1.List(k);
    if (IsLeftOut(name, lists.not_copy)) continue;
    file.back() = name;
    fs.CopyFile(file, *target, Replace::kNo);
  }
}

}  // namespace

void CopySeasonFiles(const GameFolder& game, FileSystem& fs, const CopyLists& lists) {
  // A fresh plan every run: the lists would otherwise grow with each one.
  lists.not_copy.Clear();
  lists.dirs.Clear();
  lists.dirs2.Clear();
  AddSkipNames(lists.not_copy);
  AddFolderPairs(game, fs, lists.dir1, lists.dirs, lists.dirs2);
  for (std::size_t j = 0; j < lists.dirs.ListCount(); ++j) CopyPair(game, fs, lists, j);
  CopyFolderReplacing(fs, *SplitRelative(kPitsSource), *SplitRelative(kPitsTarget));
}

void CopyFolderReplacing(FileSystem& fs, const GamePath& from, const GamePath& to) {
  const std::optional<std::vector<Entry>> entries = fs.List(from);
  if (!entries) return;
  fs.CreateFolder(to);  // fails harmlessly when it is there already
  for (const Entry& entry : *entries) {
    if (entry.kind == EntryKind::kFolder)
      CopyFolderReplacing(fs, Below(from, entry.name), Below(to, entry.name));
    else
      fs.CopyFile(Below(from, entry.name), to, Replace::kYes);
  }
}

}  // namespace velmora

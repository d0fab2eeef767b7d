#include "copier/copy_plan.h"

#include <algorithm>
#include <array>

#include "platform/ascii.h"
#include "platform/name_case.h"

namespace velmora {
namespace {

constexpr std::array<std::string_view, 17> kCircuits = {
    "AUSTRALIA", "AUSTRIA", "Belgium",      "Brazil",  "Canada",   "Europe",
    "France",    "Germany", "GreatBritain", "Hungary", "Italy",    "Japan",
    "Malaysia",  "Monaco",  "SanMarino",    "Spain",   "UnitedStates"};
constexpr std::array<std::string_view, 3> kPitFiles = {"ORDER.PIT", "pits.mas", "pitcrew.scr"};

}  // namespace

void AddSkipNames(StringList& not_copy) {
  for (std::string_view circuit : kCircuits) {
    for (std::string_view suffix : {".MAS", "MAP.MAS", ".BIK"})
      not_copy.AddItem(std::string(circuit).append(suffix));
  }
  for (std::string_view name : kPitFiles) not_copy.AddItem(name);
}

namespace {

// The last `count` characters of a UTF-8 name (all of it when shorter).
std::string_view LastCharacters(std::string_view name, int count) {
  std::size_t at = name.size();
  while (at > 0 && count > 0) {
    --at;
    if ((static_cast<unsigned char>(name[at]) & 0xC0) != 0x80) --count;  // not a continuation byte
  }
  return name.substr(at);
}

}  // namespace

LeftOutNames::LeftOutNames(const StringList& not_copy) {
  for (std::size_t m = 0; m < not_copy.ListCount(); ++m) {
    std::string upper = ToUpperName(not_copy.List(m));
    lengths_.set(std::min<std::size_t>(upper.size(), 255));
    upper_.insert(std::move(upper));
  }
}

bool LeftOutNames::Has(std::string_view name) const {
  const bool ascii = IsAsciiName(name);
  // Only the last four characters are upper-cased: letter case is mapped
  // one character at a time.
  const std::string_view last = LastCharacters(name, 4);
  if (ascii ? last.size() == 4 && NamesEqualIgnoringCase(last, ".AIW") : ToUpperName(last) == ".AIW") return true;
  // An ASCII name keeps its length upper-cased: one of a length no skip
  // name has is passed over at once.
  if (ascii && !lengths_.test(std::min<std::size_t>(name.size(), 255))) return false;
  thread_local std::string upper;
  ToUpperName(name, upper);
  return upper_.find(std::string_view(upper)) != upper_.end();
}

bool IsPitsPair(const GamePath& source, const GamePath& target) {
  const auto same = [](const GamePath& a, std::string_view relative) {
    const GamePath b = *SplitRelative(relative);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), NamesEqualIgnoringCase);
  };
  return same(source, kPitsSource) && same(target, kPitsTarget);
}

std::string TargetFolder(const GameFolder& game, std::string_view source) {
  // The game folder's own path is kept as it is: changing it would point
  // outside the game folder.
  const std::size_t below = source.substr(0, game.Root().size()) == game.Root() ? game.Root().size() : 0;
  std::string target = ToUpperName(source.substr(below));
  constexpr std::string_view kFrom = "SEASON02", kTo = "ZENTOSEASON";
  for (std::size_t at = target.find(kFrom); at != std::string::npos; at = target.find(kFrom, at + kTo.size()))
    target.replace(at, kFrom.size(), kTo);
  return std::string(source.substr(0, below)) + target;
}

void AddFolderPairs(const GameFolder& game, FileSystem& fs, FolderListing& dir1, StringList& dirs,
                    StringList& dirs2) {
  dirs.AddItem(game.Join(kTrackFolder));
  dirs2.AddItem(game.Join(kSeasonFolder));
  // Without a track folder there are no sub-folders to pair, whatever the
  // listing showed before.
  if (!dir1.SetPath(fs, game.Join(kTrackFolder) + kSeparator)) return;
  for (int i = 0; !dir1.List(i).empty(); ++i) {
    const std::string source = dir1.List(i);
    dirs.AddItem(source);
    dirs2.AddItem(TargetFolder(game, source));
  }
}

}  // namespace velmora

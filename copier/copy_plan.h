#pragma once

#include <bitset>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/file_system.h"
#include "platform/game_folder.h"
#include "platform/listings.h"
#include "platform/string_list.h"

namespace velmora {

// The game's track folder, the add-on's season track folder, and the two
// pits folders, below the game folder.
inline constexpr std::string_view kTrackFolder = "season02\\tracks";
inline constexpr std::string_view kSeasonFolder = "ZENTOSEASON\\tracks";
inline constexpr std::string_view kPitsSource = "season02\\tracks\\pits\\";
inline constexpr std::string_view kPitsTarget = "ZENTOSeason\\tracks\\Pits\\";

// Appends the 54 names of the game's own files that are never copied file
// by file: each circuit's archive, map archive and video, and three pit files.
void AddSkipNames(StringList& not_copy);

// The names the file-by-file copy leaves out: a name whose last four
// characters are ".AIW", or that equals a skip name, ignoring letter case.
// Asked for every file, so the skip names are indexed by their uppercase form.
class LeftOutNames {
 public:
  explicit LeftOutNames(const StringList& not_copy);
  bool Has(std::string_view name) const;

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_set<std::string, Hash, std::equal_to<>> upper_;
  std::bitset<256> lengths_;  // of the uppercase forms, in bytes; longer ones in 255
};

// True for the pits folder's own pair among the track folder's pairs: the
// pits copy replaces every file it would copy, so it is left to that.
bool IsPitsPair(const GamePath& source, const GamePath& target);

// The add-on's folder for a sub-folder of the game's track folder: the part
// below the game folder upper-cased, with "SEASON02" made "ZENTOSEASON".
std::string TargetFolder(const GameFolder& game, std::string_view source);

// Appends the track folder's pair, then one pair for each immediate sub-folder
// of it found with `dir1`: sources to `dirs`, targets to `dirs2`.
void AddFolderPairs(const GameFolder& game, FileSystem& fs, FolderListing& dir1, StringList& dirs,
                    StringList& dirs2);

}  // namespace velmora

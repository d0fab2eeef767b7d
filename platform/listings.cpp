#include "platform/listings.h"

#include <optional>

namespace velmora {
namespace {

// Reads the folder a listing is pointed at and keeps the entries `wanted`
// picks out. The path's trailing separator, if any, is not kept.
template <typename Wanted>
FileResult Read(FileSystem& fs, const GameFolder& game, std::string_view path, Wanted wanted,
          std::string& path_out, std::vector<std::string>& names_out) {
  while (path.size() > game.Root().size() && path.back() == kSeparator) path.remove_suffix(1);
  const std::optional<GamePath> folder = game.Parse(path);
  if (!folder) return Cause::kOther;
  Found<std::vector<Entry>> entries = fs.List(*folder);
  if (!entries) return entries.cause;
  names_out.clear();
  for (Entry& entry : *entries)
    if (wanted(entry)) names_out.push_back(std::move(entry.name));
  path_out = path;
  return {};
}

}  // namespace

FileResult FolderListing::SetPath(FileSystem& fs, std::string_view path) {
  return Read(
      fs, game_, path,
      [](const Entry& e) { return e.kind == EntryKind::kFolder && !e.hidden; }, path_, names_);
}

std::string FolderListing::List(int i) const {
  if (i == -1) return path_;
  if (i < 0 || i >= ListCount()) return "";
  return path_ + kSeparator + names_[std::size_t(i)];
}

FileResult FileListing::SetPath(FileSystem& fs, std::string_view path) {
  return Read(
      fs, game_, path,
      [](const Entry& e) { return e.kind == EntryKind::kFile && !e.hidden; }, path_, names_);
}

}  // namespace velmora

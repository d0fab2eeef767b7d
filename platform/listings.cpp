#include "platform/listings.h"

#include <optional>

namespace velmora {
namespace {

// Reads the folder a listing is pointed at and keeps the names of the
// entries `wanted` picks out, once the folder could be read. The path's trailing
// separator, if any, is not kept.
template <typename Wanted>
FileResult Read(FileSystem& fs, const GameFolder& game, std::string_view path, Wanted wanted, std::string& path_out,
                StringList& names_out) {
  while (path.size() > game.Root().size() && path.back() == kSeparator) path.remove_suffix(1);
  const std::optional<GamePath> folder = game.Parse(path);
  if (!folder) return Cause::kOther;
  StringList names;
  const FileResult listed = fs.ListEach(*folder, [&](std::string_view name, EntryKind kind, bool hidden) {
    if (wanted(kind, hidden)) names.AddItem(name);
  });
  if (!listed) return listed;
  names_out = std::move(names);
  path_out = path;
  return {};
}

}  // namespace

FileResult FolderListing::SetPath(FileSystem& fs, std::string_view path) {
  return Read(
      fs, game_, path,
      [](EntryKind kind, bool hidden) { return kind == EntryKind::kFolder && !hidden; }, path_, names_);
}

std::string FolderListing::List(int i) const {
  if (i == -1) return path_;
  if (i < 0 || i >= ListCount()) return "";
  return path_ + kSeparator + std::string(names_.List(std::size_t(i)));
}

FileResult FileListing::SetPath(FileSystem& fs, std::string_view path) {
  return Read(
      fs, game_, path,
      [](EntryKind kind, bool hidden) { return kind == EntryKind::kFile && !hidden; }, path_, names_);
}

}  // namespace velmora

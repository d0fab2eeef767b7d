#include "finder/finder_disk.h"

namespace velmora {
namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// The length of `path` without separators at its end, a root's own kept.
std::size_t TrimmedLength(std::string_view path) {
  std::size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1]) && !(end == 3 && path[1] == ':')) --end;
  return end;
}

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string joined(folder);
  if (!joined.empty() && !IsSeparator(joined.back())) joined += kPathSeparator;
  joined += name;
  return joined;
}

std::string ParentOf(std::string_view path) {
  path = path.substr(0, TrimmedLength(path));
  std::size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0) return "";
  // A root keeps its separator ("/", "C:\\").
  if (cut == 1 || (cut == 3 && path[1] == ':')) return std::string(path.substr(0, cut));
  return std::string(path.substr(0, cut - 1));
}

std::string NameOf(std::string_view path) {
  path = path.substr(0, TrimmedLength(path));
  std::size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  return std::string(path.substr(cut));
}

std::vector<std::string> NamesOf(std::string_view path) {
  std::vector<std::string> names;
  if (!path.empty() && IsSeparator(path.front())) names.emplace_back(1, kPathSeparator);
  std::size_t at = 0;
  while (at < path.size()) {
    std::size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (end > at) names.emplace_back(path.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

}  // namespace velmora

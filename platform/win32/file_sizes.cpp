#include <windows.h>

#include "platform/file_sizes.h"
#include "platform/win32/calls.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

// Links to folders are followed, never deeper than this: Windows' own
// limit on nested links lies below it, so only a loop reaches it.
constexpr int kDeepest = 32;

void SumFolder(const std::wstring& folder, bool deep, const std::function<bool(std::string_view, bool)>& take,
               int depth, std::uint64_t& sum) {
  FindEach(folder, [&](const WIN32_FIND_DATAW& found) {
    const std::wstring name = found.cFileName;
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(found.dwReserved0);
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      const bool hidden = found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      if (!link && take(Narrow(name), hidden)) sum += std::uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
    } else if (deep && depth < kDeepest) {
      SumFolder(folder + L"\\" + name, deep, take, depth + 1, sum);
    }
    return true;
  });
}

}  // namespace

std::uint64_t SumOfFileSizes(const GameFolder& game, const GamePath& folder, bool deep,
                             const std::function<bool(std::string_view name, bool hidden)>& take) {
  // Windows finds the names in any letter case itself.
  std::wstring path = Widen(game.Root());
  for (const std::string& name : folder) path += L"\\" + Widen(name);
  std::uint64_t sum = 0;
  SumFolder(path, deep, take, 0, sum);
  return sum;
}

}  // namespace velmora

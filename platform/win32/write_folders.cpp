#include "platform/win32/write_folders.h"

#include "platform/win32/calls.h"
#include "platform/win32/status.h"
#include "platform/win32/text.h"

namespace velmora {

WriteFolders::WriteFolders(std::wstring root)
    : root_(std::move(root)), view_(GameViewOf(root_)), write_root_(view_.store.empty() ? root_ : view_.store) {}

std::wstring WriteFolders::ViewPath(const GamePath& path) const {
  if (!view_.store.empty()) {
    std::wstring stored = StorePath(path);
    if (AttributesOf(stored) != INVALID_FILE_ATTRIBUTES) return stored;
  }
  return Path(path);
}

std::vector<std::wstring> WriteFolders::NamesBelow(std::wstring native, const GamePath& path) const {
  std::vector<std::wstring> names;
  for (const std::string& name : path) {
    std::wstring wide = Widen(name);
    if (IsCaseSensitive(native)) wide = NameIgnoringCase(native, wide);
    native += L"\\" + wide;
    names.push_back(std::move(wide));
  }
  return names;
}

bool WriteFolders::IsCaseSensitive(const std::wstring& folder) const {
  const auto [at, added] = case_sensitive_.try_emplace(folder, false);
  if (added) at->second = CurrentWin32Calls().case_sensitive(folder);
  return at->second;
}

std::wstring WriteFolders::NameIgnoringCase(const std::wstring& folder, const std::wstring& name) {
  std::wstring match = name;
  bool exact = false;
  FindEach(folder, [&](const WIN32_FIND_DATAW& found) {
    const std::wstring entry = found.cFileName;
    if (entry == name) exact = true;
    else if (match == name && SameNameIgnoringCase(entry, name))
      match = entry;
    return !exact;
  });
  return exact ? name : match;
}

bool WriteFolders::MakeStoreTwin(const GamePath& folder) {
  const DWORD real = AttributesOf(Path(folder));
  const DWORD stored = AttributesOf(StorePath(folder));
  const auto is_folder = [](DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  if (is_folder(stored)) return true;
  if (!is_folder(real)) return false;
  // From the VirtualStore down each level that is missing is made, under
  // the name its real folder has.
  const auto make = [](const std::wstring& level) {
    return CreateDirectoryW(Long(level).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
  };
  const std::wstring store_root = CurrentWin32Calls().local_app_data() + L"\\VirtualStore";
  for (std::size_t at = store_root.size(); at != std::wstring::npos; at = view_.store.find_first_of(L"\\/", at + 1))
    if (!make(view_.store.substr(0, at))) return false;
  std::wstring twin = view_.store, real_path = root_;
  if (!make(twin)) return false;
  for (const std::string& name : folder) {
    real_path += L"\\" + Widen(name);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Long(real_path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    twin += L"\\" + std::wstring(found.cFileName);
    if (!make(twin)) return false;
  }
  return true;
}

std::shared_ptr<const HeldFolder> WriteFolders::Open(const GamePath& folder) {
  if (held_path_ == folder && held_) return held_;
  held_.reset();
  held_path_ = folder;
  // Nothing is written where a write would be half redirected.
  if (view_.writes_refused) return nullptr;
  if (!view_.store.empty() && !MakeStoreTwin(folder)) return nullptr;
  if (std::optional<HeldFolder> opened = HeldFolder::Open(write_root_, NamesBelow(write_root_, folder)))
    held_ = std::make_shared<const HeldFolder>(std::move(*opened));
  return held_;
}

Cause WriteFolders::WhyNotOpen(const GamePath& folder) const {
  if (view_.writes_refused) return Cause::kNotAllowed;
  const DWORD error = GetLastError();
  std::wstring path = root_;
  for (std::size_t depth = 0;; ++depth) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Cause::kFolderMissing;
    if (IsLink(path, attributes) && depth > 0) return Cause::kLinked;
    if (depth == folder.size()) break;
    path += L"\\" + Widen(folder[depth]);
  }
  // Every folder is there: the refusal was the system's, told by its own
  // error, or a link (a Unix link too, which Windows does not show as one).
  return error == kRefusedLink ? Cause::kLinked : CauseOfError(error);
}

}  // namespace velmora

// The file system below the game folder on Windows, where names already
// ignore letter case: paths are the game folder and the names joined by "\".
//
// Writes never go through a link or junction: every folder from the game
// folder down to the one written into is checked for one first. Reads follow
// links to folders, as far as they lead nowhere they have been.
// The pits copy replaces read-only files too; Qorvane.ini that is read-only
// is the user's to keep.
// A file gets its name only when it is complete: it is written under a
// hidden temporary name and then renamed. A virus scanner or the indexer may
// hold a file open for a moment; the rename, or the open to read, is then
// tried again, as LLVM's and git's renames on Windows do, within about two
// seconds for the whole command.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <set>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32_calls.h"
#include "platform/win32_text.h"

namespace velmora {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
  Handle& operator=(Handle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    const bool ok = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_;
};

constexpr wchar_t kTemporaryPrefix[] = L".velmora-";

std::wstring Long(const std::wstring& path) { return ExtendedLengthPath(path); }

DWORD AttributesOf(const std::wstring& path) { return CurrentWin32Calls().get_attributes(Long(path).c_str()); }

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Only links count as links: symbolic links, junctions and WSL's links.
// OneDrive's placeholders, deduplicated and some compressed files are
// reparse points too, and are ordinary files and folders.
bool IsLinkTag(DWORD tag) {
  constexpr DWORD kWslSymlink = 0xA000001D;  // IO_REPARSE_TAG_LX_SYMLINK, which MinGW's headers lack
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT || tag == kWslSymlink;
}

bool IsLink(const std::wstring& path, DWORD attributes) {
  return IsReparsePoint(attributes) && IsLinkTag(CurrentWin32Calls().get_reparse_tag(Long(path).c_str()));
}

// Which file or folder a path leads to, links followed.
std::optional<std::tuple<DWORD, DWORD, DWORD>> IdentityOf(const std::wstring& path) {
  const HANDLE file = CreateFileW(Long(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!known) return std::nullopt;
  return std::tuple{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// A new hidden file in `folder` under a name nothing else uses; a name left
// by a killed run only makes it try the next one.
Handle CreateTemporary(const std::wstring& folder, std::wstring& path) {
  static std::atomic<unsigned> counter{0};
  const std::wstring prefix = folder + L"\\" + kTemporaryPrefix + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    path = prefix + std::to_wstring(counter++) + L".tmp";
    Handle file(CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) return file;
  }
  return Handle();
}

void RemoveTemporary(const std::wstring& path) {
  SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(Long(path).c_str());
}

// True when another program holds the file open: a sharing or lock
// violation, or an access denied that comes from a handle without delete
// sharing (a rename over such a file is refused so). An access denied that
// comes from a real permission does not pass, and is not waited for.
bool IsPassingHold(DWORD error, const std::wstring& path) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED || path.empty()) return false;
  const HANDLE probe = CreateFileW(Long(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = DWORD(std::min<std::size_t>(size, 1 << 20));
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

class Win32FileSystem : public FileSystem {
 public:
  explicit Win32FileSystem(const GameFolder& game) : root_(Widen(game.Root())) {}

  std::optional<std::vector<Entry>> List(const GamePath& folder) override {
    if (GoesRoundInALoop(folder)) return std::nullopt;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(Long(Path(folder) + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<Entry> entries;
    do {
      if (const auto& told = CurrentWin32Calls().listed) told(found);
      // A name that is not valid UTF-16 has no UTF-8 form: it is left out.
      const std::optional<std::string> name = NarrowExactly(found.cFileName);
      const DWORD attributes = found.dwFileAttributes;
      // A link to a folder is read as that folder (a circuit kept on another
      // disk); a link to a file is left out.
      const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(found.dwReserved0);
      // Windows' own path rules drop a trailing dot or blank: such a name,
      // reachable only through \\?\, is left out at every path length.
      if (!name || !IsSafeName(*name) || name->back() == '.' || name->back() == ' ' ||
          (link && !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
        continue;
      entries.push_back({*name, attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::kFolder : EntryKind::kFile,
                         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
  }

  bool CreateFolder(const GamePath& folder) override {
    if (folder.empty() || !NoLinkDownTo(GamePath(folder.begin(), folder.end() - 1))) return false;
    return CreateDirectoryW(Long(Path(folder)).c_str(), nullptr) != 0;
  }

  bool CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    if (source.empty() || !NoLinkDownTo(target_folder)) return false;
    const std::wstring folder = Path(target_folder);
    SweepStaleTemporaries(folder);
    const std::wstring target = folder + L"\\" + Widen(source.back());
    const DWORD existing = AttributesOf(target);
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (replace == Replace::kNo || IsLink(target, existing) || (existing & FILE_ATTRIBUTE_DIRECTORY)))
      return false;

    Handle in = OpenToRead(Path(source));
    BY_HANDLE_FILE_INFORMATION info;
    if (!in || !GetFileInformationByHandle(in.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return false;
    std::wstring temporary;
    Handle out = CreateTemporary(folder, temporary);
    if (!out) return false;
    bool ok = CopyData(in.get(), out.get()) && SetFileTime(out.get(), nullptr, nullptr, &info.ftLastWriteTime);
    ok = out.Close() && ok;
    // A pits file copied from a CD is read-only, and so is its earlier copy:
    // replacing it means lifting that attribute first, and putting it back
    // when the replacement fails.
    const bool read_only = existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY);
    if (ok && read_only) ok = SetFileAttributesW(Long(target).c_str(), existing & ~FILE_ATTRIBUTE_READONLY);
    // Without MOVEFILE_REPLACE_EXISTING the rename fails if the name was taken meanwhile.
    const bool renamed =
        ok && Rename(temporary, target, replace == Replace::kYes ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!renamed) {
      if (ok && read_only) SetFileAttributesW(Long(target).c_str(), existing);
      RemoveTemporary(temporary);
      return false;
    }
    // The copy takes the source's attributes (read-only, archive) once it has its name.
    SetFileAttributesW(Long(target).c_str(), info.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY);
    return true;
  }

  bool FileExists(const GamePath& file) override {
    const DWORD attributes = AttributesOf(Path(file));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::optional<std::string> ReadFile(const GamePath& file) override {
    Handle in = OpenToRead(Path(file));
    if (!in || GetFileType(in.get()) != FILE_TYPE_DISK) return std::nullopt;
    std::string content;
    char buffer[1 << 16];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
      if (got == 0) return content;
      content.append(buffer, got);
    }
  }

  bool WriteFile(const GamePath& file, std::string_view content) override {
    if (file.empty() || !NoLinkDownTo(GamePath(file.begin(), file.end() - 1))) return false;
    const std::wstring target = Path(file);
    const std::wstring folder = target.substr(0, target.rfind(L'\\'));
    const DWORD attributes = AttributesOf(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) || IsLink(target, attributes)))
      return false;
    SweepStaleTemporaries(folder);
    std::wstring temporary;
    Handle out = CreateTemporary(folder, temporary);
    if (!out) return false;
    bool ok = WriteAll(out.get(), content.data(), content.size()) && FlushFileBuffers(out.get());
    ok = out.Close() && ok;
    ok = ok && Rename(temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
      RemoveTemporary(temporary);
      return false;
    }
    // The new file is no temporary any more: it shows like the one it replaced.
    SetFileAttributesW(Long(target).c_str(),
                       attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_ARCHIVE : attributes);
    return true;
  }

  std::optional<std::string> NativePath(const GamePath& path) override {
    const std::wstring native = Path(path);
    if (AttributesOf(native) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return Narrow(native);
  }

 private:
  std::wstring Path(const GamePath& path) const {
    std::wstring native = root_;
    for (const std::string& name : path) native += L"\\" + Widen(name);
    return native;
  }

  // True when every folder from the game folder's first sub-folder down to
  // `folder` exists and none is a link or junction.
  bool NoLinkDownTo(const GamePath& folder) const {
    std::wstring path = root_;
    for (const std::string& name : folder) {
      path += L"\\" + Widen(name);
      const DWORD attributes = AttributesOf(path);
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
          IsLink(path, attributes))
        return false;
    }
    return true;
  }

  // Runs `attempt` until it succeeds or fails for another reason than a
  // passing hold on `path`, pausing longer each time. The pauses of the whole
  // command share one budget of about two seconds: enough for a virus
  // scanner's moment, and a game that holds many files costs no more.
  template <typename Attempt>
  auto WaitingOutHolds(const std::wstring& path, Attempt attempt) {
    DWORD pause = 1;
    for (;;) {
      auto result = attempt();
      if (result) return result;
      const DWORD error = GetLastError();
      if (hold_budget_ms_ == 0 || !IsPassingHold(error, path)) {
        SetLastError(error);
        return result;
      }
      const DWORD wait = std::min(pause, hold_budget_ms_);
      Sleep(wait);
      hold_budget_ms_ -= wait;
      pause *= 2;
    }
  }

  bool Rename(const std::wstring& from, const std::wstring& to, DWORD flags) {
    return WaitingOutHolds(to, [&] { return CurrentWin32Calls().move_file(Long(from).c_str(), Long(to).c_str(), flags); });
  }

  Handle OpenToRead(const std::wstring& path) {
    return WaitingOutHolds(path, [&] {
      return Handle(CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    });
  }

  // True when a folder is reached twice on the way from the game folder to
  // `folder`: a link back to a folder around it, which would be listed
  // without end.
  bool GoesRoundInALoop(const GamePath& folder) const {
    std::set<std::tuple<DWORD, DWORD, DWORD>> seen;
    std::wstring path = root_;
    for (std::size_t depth = 0;; ++depth) {
      const auto identity = IdentityOf(path);
      if (identity && !seen.insert(*identity).second) return true;
      if (depth == folder.size()) return false;
      path += L"\\" + Widen(folder[depth]);
    }
  }

  bool CopyData(HANDLE from, HANDLE to) {
    buffer_.resize(1 << 20);
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(from, buffer_.data(), DWORD(buffer_.size()), &got, nullptr)) return false;
      if (got == 0) return true;
      if (!WriteAll(to, buffer_.data(), got)) return false;
    }
  }

  // A run killed part-way leaves its temporary file behind: the first write
  // into a folder removes those. Process ids repeat (Wine hands out the same
  // ones in every session), so the file decides: a temporary is written
  // through a handle that shares no deletion, so one that can be deleted is
  // a leftover, and one being written cannot be.
  void SweepStaleTemporaries(const std::wstring& folder) {
    if (!swept_.insert(folder).second) return;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Long(folder + L"\\" + kTemporaryPrefix + L"*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      unsigned long process = 0;
      unsigned long number = 0;
      wchar_t rest[8] = {};
      if (std::swscanf(found.cFileName, L".velmora-%lu-%lu%7ls", &process, &number, rest) == 3 &&
          std::wcscmp(rest, L".tmp") == 0)
        DeleteFileW(Long(folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  std::wstring root_;
  std::vector<char> buffer_;
  std::set<std::wstring> swept_;
  DWORD hold_budget_ms_ = 2000;
};

}  // namespace

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<Win32FileSystem>(game);
}

void RaiseOpenFileLimit() {}  // Windows has no such limit on handles

}  // namespace velmora

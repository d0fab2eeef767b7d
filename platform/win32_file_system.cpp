// The file system below the game folder on Windows, where names already
// ignore letter case: paths are the game folder and the names joined by "\".
//
// Writes never go through a link or junction: the folder written into is
// held open from the game folder down (see HeldFolder), files are made and
// named below that handle, and a temporary is named only when Windows says
// it is where it should be. Reads follow links to folders, as far as they
// lead nowhere they have been.
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
#include "platform/piece_buffer.h"
#include "platform/win32_calls.h"
#include "platform/win32_handle.h"
#include "platform/win32_held_folder.h"
#include "platform/win32_text.h"

namespace velmora {
namespace {

constexpr wchar_t kTemporaryPrefix[] = L".velmora-";

std::wstring Long(const std::wstring& path) { return ExtendedLengthPath(path); }

DWORD AttributesOf(const std::wstring& path) { return CurrentWin32Calls().get_attributes(Long(path).c_str()); }

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsLink(const std::wstring& path, DWORD attributes) {
  return IsReparsePoint(attributes) && IsLinkTag(CurrentWin32Calls().get_reparse_tag(Long(path).c_str()));
}

// Which file or folder a path leads to, links followed.
std::optional<std::tuple<DWORD, DWORD, DWORD>> IdentityOf(const std::wstring& path) {
  const Handle file(CreateFileW(Long(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return std::tuple{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// A new hidden file in `folder` under a name nothing else uses; a name left
// by a killed run only makes it try the next one. It is written through a
// handle that shares nothing, deletion included, until it has its name.
Handle CreateTemporary(const HeldFolder& folder, std::wstring& name) {
  static std::atomic<unsigned> counter{0};
  const std::wstring prefix = kTemporaryPrefix + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = prefix + std::to_wstring(counter++) + L".tmp";
    Handle file = folder.Create(name, GENERIC_WRITE | DELETE | SYNCHRONIZE, 0, FILE_CREATE,
                                FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_SEQUENTIAL_ONLY,
                                FILE_ATTRIBUTE_HIDDEN);
    if (file || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) return file;
  }
  return Handle();
}

// Removes a temporary that will not be named, wherever it is now.
void Discard(Handle& temporary) {
  FILE_DISPOSITION_INFO remove{TRUE};
  SetFileInformationByHandle(temporary.get(), FileDispositionInfo, &remove, sizeof remove);
  temporary.Close();
}

// Sets the attributes (read-only, hidden, archive) of an open file.
bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of zero stay as they are
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// Sets the attributes of `name` in the held folder, itself if it is a link.
bool SetAttributes(const HeldFolder& folder, const std::wstring& name, DWORD attributes) {
  const Handle file = folder.Create(name, FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                    FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT);
  return file && folder.Holds(file.get(), name) && SetAttributes(file.get(), attributes);
}

// True when another program holds the file open: a sharing or lock
// violation, or an access denied that comes from a handle without delete
// sharing (a rename over such a file is refused so). An access denied that
// comes from a real permission does not pass, and is not waited for.
bool IsPassingHold(DWORD error, const std::wstring& path) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED || path.empty()) return false;
  const Handle probe(CreateFileW(Long(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
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
    const HeldFolder* parent = folder.empty() ? nullptr : Hold(GamePath(folder.begin(), folder.end() - 1));
    return parent && parent->Create(Widen(folder.back()), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_CREATE,
                                    FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT);
  }

  bool CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    const HeldFolder* held = source.empty() ? nullptr : Hold(target_folder);
    if (!held) return false;
    const std::wstring folder = Path(target_folder);
    SweepStaleTemporaries(folder);
    const std::wstring name = Widen(source.back());
    const std::wstring target = folder + L"\\" + name;
    const DWORD existing = AttributesOf(target);
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (replace == Replace::kNo || IsLink(target, existing) || (existing & FILE_ATTRIBUTE_DIRECTORY)))
      return false;

    Handle in = OpenToRead(Path(source));
    BY_HANDLE_FILE_INFORMATION info;
    if (!in || !GetFileInformationByHandle(in.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return false;
    std::wstring temporary;
    Handle out = CreateTemporary(*held, temporary);
    if (!out) return false;
    bool ok = CopyData(in.get(), out.get()) && SetFileTime(out.get(), nullptr, nullptr, &info.ftLastWriteTime);
    // A pits file copied from a CD is read-only, and so is its earlier copy:
    // replacing it means lifting that attribute first, and putting it back
    // when the replacement fails.
    const bool read_only = existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY);
    if (ok && read_only) ok = SetAttributes(*held, name, existing & ~FILE_ATTRIBUTE_READONLY);
    // Without replacing, the rename fails if the name was taken meanwhile.
    const bool renamed = ok && Name(*held, out, temporary, name, target, replace == Replace::kYes);
    if (!renamed) {
      if (ok && read_only) SetAttributes(*held, name, existing);
      Discard(out);
      return false;
    }
    // The copy takes the source's attributes (read-only, archive) once it has its name.
    SetAttributes(out.get(), info.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY);
    return out.Close();
  }

  std::optional<std::uint64_t> FileSize(const GamePath& file) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Long(Path(file)).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return std::nullopt;
    return std::uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
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

  using FileSystem::WriteFile;
  bool WriteFile(const GamePath& file, const Pieces& pieces) override {
    const HeldFolder* held = file.empty() ? nullptr : Hold(GamePath(file.begin(), file.end() - 1));
    if (!held) return false;
    const std::wstring target = Path(file);
    const std::wstring folder = target.substr(0, target.rfind(L'\\'));
    const DWORD attributes = AttributesOf(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) || IsLink(target, attributes)))
      return false;
    SweepStaleTemporaries(folder);
    std::wstring temporary;
    Handle out = CreateTemporary(*held, temporary);
    if (!out) return false;
    // On disk before it takes the name: a power cut leaves the old file or the new one.
    PieceBuffer buffer([&](std::string_view data) { return WriteAll(out.get(), data.data(), data.size()); });
    const bool whole = pieces([&](std::string_view piece) { return buffer.Put(piece); }) && buffer.Drain();
    if (!whole || !FlushFileBuffers(out.get()) ||
        !Name(*held, out, temporary, Widen(file.back()), target, true)) {
      Discard(out);
      return false;
    }
    // The new file is no temporary any more: it shows like the one it replaced.
    SetAttributes(out.get(), attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_ARCHIVE : attributes);
    return out.Close();
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

  // The folder written into, held from the game folder down; kept for the
  // writes that follow into the same folder. Null when it cannot be held
  // (missing, or a link on the way).
  const HeldFolder* Hold(const GamePath& folder) {
    if (held_ && held_path_ == folder) return &*held_;
    held_.reset();
    std::vector<std::wstring> names;
    for (const std::string& name : folder) names.push_back(Widen(name));
    held_ = HeldFolder::Open(root_, names);
    held_path_ = folder;
    return held_ ? &*held_ : nullptr;
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

  // Gives the temporary its name in the held folder, once Windows says it
  // is there; a hold on the file it replaces (at `target`) is waited out.
  bool Name(const HeldFolder& folder, const Handle& temporary, const std::wstring& temporary_name,
            const std::wstring& name, const std::wstring& target, bool replace) {
    if (!folder.Holds(temporary.get(), temporary_name)) return false;
    return WaitingOutHolds(target, [&] { return folder.Rename(temporary.get(), name, replace); });
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
  std::optional<HeldFolder> held_;
  GamePath held_path_;
  DWORD hold_budget_ms_ = 2000;
};

}  // namespace

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<Win32FileSystem>(game);
}

void RaiseOpenFileLimit() {}  // Windows has no such limit on handles

}  // namespace velmora

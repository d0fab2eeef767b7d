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
// hidden temporary name and then renamed. A copy's temporary is made in a
// hidden sub-folder of its target folder, held with it, so that only its
// rename looks a name up in a large target folder;
// whether a name is taken there already comes from one listing of the
// folder, kept up to date with the names the command adds. A virus scanner or the indexer may
// hold a file open for a moment; the rename, or the open to read, is then
// tried again, as LLVM's and git's renames on Windows do, within about two
// seconds for the whole command.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "platform/name_case.h"
#include "platform/piece_buffer.h"
#include "platform/win32_calls.h"
#include "platform/win32_handle.h"
#include "platform/win32_held_folder.h"
#include "platform/win32_text.h"
#include "platform/win32_virtual_store.h"
#include "platform/work_sharing.h"

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

// Which file or folder a path leads to, links followed: the volume and the
// file's id. FILE_ID_INFO costs the system nothing more than the open; where
// it is missing (Windows 7) the older call gives the same.
using Identity = std::tuple<ULONGLONG, std::string>;
std::optional<Identity> IdentityOf(const std::wstring& path) {
  const Handle file(CreateFileW(Long(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return std::nullopt;
  FILE_ID_INFO id;
  if (GetFileInformationByHandleEx(file.get(), FileIdInfo, &id, sizeof id))
    return Identity{id.VolumeSerialNumber, std::string(reinterpret_cast<const char*>(&id.FileId), sizeof id.FileId)};
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  const DWORD index[2] = {info.nFileIndexHigh, info.nFileIndexLow};
  return Identity{info.dwVolumeSerialNumber, std::string(reinterpret_cast<const char*>(index), sizeof index)};
}

// True for the name of a temporary of this program, a file or a folder:
// ".velmora-PROCESS-NUMBER.tmp".
bool IsTemporaryName(const wchar_t* name) {
  unsigned long process = 0;
  unsigned long number = 0;
  wchar_t rest[8] = {};
  return std::swscanf(name, L".velmora-%lu-%lu%7ls", &process, &number, rest) == 3 && std::wcscmp(rest, L".tmp") == 0;
}

// The key a name is found by in a folder, letter case aside as Windows has
// it; empty for a name that is no valid UTF-16.
std::optional<std::string> KeyOf(const wchar_t* name) {
  std::optional<std::string> narrow = NarrowExactly(name);
  if (narrow) narrow = ToUpperName(*narrow);
  return narrow;
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
// violation, or an access denied on a file this user may delete. Without
// POSIX semantics a rename over a file held open is refused so even when
// the holder shares deletion, as scanners and indexers do (MS-FSCC
// 2.4.42). An access denied that comes from a real permission (the file
// itself cannot be opened for deletion) is not waited for.
bool IsPassingHold(DWORD error, const std::wstring& path) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED || path.empty()) return false;
  const DWORD probe = CurrentWin32Calls().probe_delete(Long(path).c_str());
  return probe == 0 || probe == ERROR_SHARING_VIOLATION;
}

// The attributes a copy takes from its source: what a player sees of a
// file. A cloud placeholder's state (offline, pinned, recalled on access)
// is its provider's, and the copy is a whole local file.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The errors of a cloud file whose provider cannot bring it (not running,
// offline, refused): ERROR_CLOUD_FILE_PROPERTY_BLOB_TOO_LARGE (358) to
// ERROR_CLOUD_FILE_PROVIDER_TERMINATED (404).
bool IsCloudFileError(DWORD error) { return error >= 358 && error <= 404; }

// "The disk quota has been exceeded"; MinGW's headers lack it.
constexpr DWORD kDiskQuotaExceeded = 1295;

// What a failed call's error means to the player.
Cause CauseOfError(DWORD error) {
  if (IsCloudFileError(error)) return Cause::kUnreadable;  // the game's file could not be brought
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      return Cause::kDiskFull;
    case ERROR_WRITE_PROTECT:
      return Cause::kReadOnlyDisk;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return Cause::kNotAllowed;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return Cause::kInUse;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_NOT_READY:
      return Cause::kDiskError;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Cause::kFolderMissing;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Cause::kNameTaken;
    default:
      return Cause::kOther;
  }
}

// The same for a source file that could not be opened or read.
Cause CauseOfSourceError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Cause::kVanished;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Cause::kInUse;
    default:
      return CauseOfError(error) == Cause::kDiskError ? Cause::kDiskError : Cause::kUnreadable;
  }
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
  explicit Win32FileSystem(const GameFolder& game)
      : root_(Widen(game.Root())), view_(GameViewOf(root_)), write_root_(view_.store.empty() ? root_ : view_.store) {}
  ~Win32FileSystem() override {
    writers_.reset();      // every copy written
    FlushWaitingCopies();  // and named, or discarded
    // Empty by now: each temporary has been named or discarded.
    temporaries_.clear();
    for (const std::wstring& folder : temporary_folders_) RemoveDirectoryW(Long(folder).c_str());
  }

  // The entries of a folder as the game sees it: where it is virtualized,
  // the store's and the real folder's, merged, the store's first.
  std::optional<std::vector<Entry>> List(const GamePath& folder) override {
    if (GoesRoundInALoop(folder)) return std::nullopt;
    std::optional<std::vector<Entry>> entries = ListFolder(Path(folder));
    if (view_.store.empty()) return entries;
    std::optional<std::vector<Entry>> stored = ListFolder(StorePath(folder));
    if (!stored) return entries;
    std::unordered_set<std::string> seen;
    for (const Entry& entry : *stored) seen.insert(ToUpperName(entry.name));
    for (const Entry& entry : entries.value_or(std::vector<Entry>{}))
      if (!seen.count(ToUpperName(entry.name))) stored->push_back(entry);
    std::sort(stored->begin(), stored->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return stored;
  }

  // The entries of the folder at `path`, sorted by name.
  std::optional<std::vector<Entry>> ListFolder(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(Long(path + L"\\*").c_str(), FindExInfoBasic, &found,
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

  // The names kept for a target folder go; its sweep stays done.
  void DoneWith(const GamePath& folder) override { names_.erase(WritePath(folder)); }

  bool CreateFolder(const GamePath& folder) override {
    const HeldFolder* parent = folder.empty() ? nullptr : Hold(GamePath(folder.begin(), folder.end() - 1));
    return parent && parent->Create(Widen(folder.back()), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_CREATE,
                                    FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT);
  }

  FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    if (source.empty()) return Cause::kOther;
    const std::shared_ptr<const HeldFolder> held = HoldShared(target_folder);
    if (!held) return WhyNotHeld(target_folder);
    const std::wstring folder = WritePath(target_folder);
    std::unordered_set<std::string>& taken = NamesIn(folder, Path(target_folder));
    const std::wstring name = Widen(source.back());
    const std::wstring target = folder + L"\\" + name;
    const std::optional<std::string> key = KeyOf(name.c_str());
    GamePath written = target_folder;
    written.push_back(source.back());
    // A name taken since the listing is refused by the rename that does not replace.
    DWORD existing = INVALID_FILE_ATTRIBUTES;
    if (!key || taken.count(*key)) {
      const std::wstring seen = ViewPath(written);  // as the game sees it now: read-only, a link, a folder
      const DWORD there = AttributesOf(seen);
      const bool file = there != INVALID_FILE_ATTRIBUTES && !IsLink(seen, there) && !(there & FILE_ATTRIBUTE_DIRECTORY);
      if (!file && there != INVALID_FILE_ATTRIBUTES) return Cause::kNameTaken;
      if (replace == Replace::kNo) return file ? Cause::kAlreadyThere : Cause::kNameTaken;
      existing = AttributesOf(target);  // the file the copy replaces where it is written
    }

    PendingCopy copy{OpenToRead(ViewPath(source)), {}, nullptr, nullptr, name, target, replace == Replace::kYes,
                     existing, std::move(written)};
    if (!copy.in) return CauseOfSourceError(GetLastError());
    if (!GetFileInformationByHandleEx(copy.in.get(), FileBasicInfo, &copy.info, sizeof copy.info) ||
        (copy.info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return Cause::kUnreadable;
    copy.folder = held;
    copy.temporaries = TemporariesIn(target_folder, folder, *held);
    if (!copy.temporaries) return CauseOfError(GetLastError());
    // Taken from now on: a second copy of the name is refused here, not by the rename.
    if (key) taken.insert(*key);
    writers_->Post(std::move(copy));
    return Cause::kNone;
  }

  std::vector<Failure> Settle() override {
    writers_->Drain();
    FlushWaitingCopies();
    return late_.Take();
  }
  const CopyCounters* Counters() const override { return &counters_; }

  std::optional<std::uint64_t> FileSize(const GamePath& file) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Long(ViewPath(file)).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return std::nullopt;
    return std::uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  }

  std::optional<std::string> ReadFile(const GamePath& file) override {
    Handle in = OpenToRead(ViewPath(file));
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
  FileResult WriteFile(const GamePath& file, const Pieces& pieces) override {
    if (file.empty()) return Cause::kOther;
    const GamePath parent(file.begin(), file.end() - 1);
    const HeldFolder* held = Hold(parent);
    if (!held) return WhyNotHeld(parent);
    const std::wstring target = WritePath(file);
    const std::wstring folder = target.substr(0, target.rfind(L'\\'));
    const std::wstring seen = ViewPath(file);  // the file the game reads now
    const DWORD attributes = AttributesOf(seen);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(seen, attributes)) return Cause::kNameTaken;
      if (attributes & FILE_ATTRIBUTE_READONLY) return Cause::kNotAllowed;
    }
    SweepStaleTemporaries(folder);
    std::wstring temporary;
    Handle out = CreateTemporary(*held, temporary);
    if (!out) return CauseOfError(GetLastError());
    // On disk before it takes the name: a power cut leaves the old file or the new one.
    DWORD error = ERROR_SUCCESS;
    bool elsewhere = false;  // a link took the temporary somewhere else
    PieceBuffer buffer([&](std::string_view data) {
      if (WriteAll(out.get(), data.data(), data.size())) return true;
      error = GetLastError();
      return false;
    });
    const bool whole = pieces([&](std::string_view piece) { return buffer.Put(piece); }) && buffer.Drain();
    if (whole && !FlushFileBuffers(out.get())) error = GetLastError();
    else if (whole && !Name(*held, *held, out, temporary, Widen(file.back()), target, true))
      elsewhere = (error = GetLastError()) == ERROR_SUCCESS;
    if (!whole || error != ERROR_SUCCESS || elsewhere) {
      Discard(out);
      if (elsewhere) return Cause::kLinked;
      return error != ERROR_SUCCESS ? CauseOfError(error) : Cause::kUnreadable;
    }
    // The new file is no temporary any more: it shows like the one it replaced.
    SetAttributes(out.get(), attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_ARCHIVE : attributes);
    return out.Close() ? Cause::kNone : CauseOfError(GetLastError());
  }

  std::optional<std::string> NativePath(const GamePath& path) override {
    const std::wstring native = ViewPath(path);
    if (AttributesOf(native) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return Narrow(native);
  }

  bool CaseSensitive(const GamePath& folder) override { return IsCaseSensitive(Path(folder)); }

 private:
  // A path below the real game folder, below its twin in the store, and
  // where this object writes: the twin where the game is virtualized.
  std::wstring Path(const GamePath& path) const { return Below(root_, path); }
  std::wstring StorePath(const GamePath& path) const { return Below(view_.store, path); }
  std::wstring WritePath(const GamePath& path) const { return Below(write_root_, path); }
  // In a folder made case-sensitive (by WSL, say) a name is found by
  // listing, ignoring letter case as everywhere else; a name not there keeps
  // the spelling given.
  std::wstring Below(std::wstring native, const GamePath& path) const {
    for (const std::wstring& name : NamesBelow(native, path)) native += L"\\" + name;
    return native;
  }
  std::vector<std::wstring> NamesBelow(std::wstring native, const GamePath& path) const {
    std::vector<std::wstring> names;
    for (const std::string& name : path) {
      std::wstring wide = Widen(name);
      if (IsCaseSensitive(native)) wide = NameIgnoringCase(native, wide);
      native += L"\\" + wide;
      names.push_back(std::move(wide));
    }
    return names;
  }
  bool IsCaseSensitive(const std::wstring& folder) const {
    const auto [at, added] = case_sensitive_.try_emplace(folder, false);
    if (added) at->second = CurrentWin32Calls().case_sensitive(folder);
    return at->second;
  }
  static std::wstring NameIgnoringCase(const std::wstring& folder, const std::wstring& name) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(Long(folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return name;
    std::wstring match = name;
    bool exact = false;
    do {
      const std::wstring entry = found.cFileName;
      if (entry == name) exact = true;
      else if (match == name && SameNameIgnoringCase(entry, name))
        match = entry;
    } while (!exact && FindNextFileW(search, &found));
    FindClose(search);
    return exact ? name : match;
  }
  // Where the game finds `path`: the store's copy first, then the real one.
  std::wstring ViewPath(const GamePath& path) const {
    if (!view_.store.empty()) {
      std::wstring stored = StorePath(path);
      if (AttributesOf(stored) != INVALID_FILE_ATTRIBUTES) return stored;
    }
    return Path(path);
  }

  // Makes the store's twin of `folder`, as the filter would on the game's
  // first write there, when the game sees such a folder. False when it does
  // not, or the twin cannot be made.
  bool MakeStoreTwin(const GamePath& folder) {
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
    for (std::size_t at = store_root.size(); at != std::wstring::npos; at = view_.store.find(L'\\', at + 1))
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

  // The folder written into, held from the game folder down; kept for the
  // writes that follow into the same folder. Null when it cannot be held
  // (missing, or a link on the way).
  const HeldFolder* Hold(const GamePath& folder) { return HoldShared(folder).get(); }
  // The same, shared with the copies still being written into it.
  std::shared_ptr<const HeldFolder> HoldShared(const GamePath& folder) {
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

  // The copy buffers of the helpers, owned here rather than by the threads:
  // MinGW frees a thread's storage before the destructors of its
  // thread_local objects have run, so a buffer that lived with a helper
  // could be freed twice as the helper ends.
  class BufferPool {
   public:
    using Buffer = std::unique_ptr<std::vector<char>>;
    class Lent {
     public:
      Lent(BufferPool& pool, Buffer buffer) : pool_(pool), buffer_(std::move(buffer)) {}
      ~Lent() { pool_.GiveBack(std::move(buffer_)); }
      Lent(const Lent&) = delete;
      Lent& operator=(const Lent&) = delete;
      std::vector<char>& operator*() const { return *buffer_; }

     private:
      BufferPool& pool_;
      Buffer buffer_;
    };
    Lent Lend() {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (free_.empty()) return Lent(*this, std::make_unique<std::vector<char>>(1 << 20));
      Buffer buffer = std::move(free_.back());
      free_.pop_back();
      return Lent(*this, std::move(buffer));
    }

   private:
    void GiveBack(Buffer buffer) {
      const std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(std::move(buffer));
    }
    std::mutex mutex_;
    std::vector<Buffer> free_;
  };

  // A copy whose source is open and whose name is free, to be written,
  // flushed when asked, and named.
  struct PendingCopy {
    Handle in;
    FILE_BASIC_INFO info;
    std::shared_ptr<const HeldFolder> folder, temporaries;
    std::wstring name, target;
    bool replace;
    DWORD existing;  // the attributes of the file it replaces, if any
    GamePath path;   // the file it becomes, for telling a failure
  };

  // Why `folder` cannot be held for writing: missing on the way, a link on
  // the way, or refused.
  Cause WhyNotHeld(const GamePath& folder) const {
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
    // Every folder is there: the refusal was the system's, or a Unix link
    // that Windows does not show as one.
    return error == ERROR_ACCESS_DENIED ? Cause::kNotAllowed : Cause::kLinked;
  }

  // Writes a copy on a helper thread, or on the deciding one; a copy that
  // fails leaves nothing.
  void Write(PendingCopy& copy) {
    const Cause cause = WriteOnce(copy);
    if (cause != Cause::kNone) late_.Add(std::move(copy.path), cause);
  }

  // A copy written whole, waiting for its name.
  struct WrittenCopy {
    PendingCopy copy;
    Handle out;
    std::wstring temporary;
    std::uint64_t bytes;
  };

  // Writes a copy and, where Windows has it, writes its data out to the
  // drive and leaves it to a batch that one full flush covers before its
  // copies get their names, as git's batch mode does; elsewhere flushes it
  // whole and names it at once.
  Cause WriteOnce(PendingCopy& copy) {
    std::wstring temporary;
    Handle out = CreateTemporary(*copy.temporaries, temporary);
    if (!out) return CauseOfError(GetLastError());
    const FILETIME written{copy.info.LastWriteTime.LowPart, DWORD(copy.info.LastWriteTime.HighPart)};
    std::uint64_t copied = 0;
    const bool whole = CopyData(copy.in.get(), out.get(), copied) && SetFileTime(out.get(), nullptr, nullptr, &written);
    const DWORD error = whole ? ERROR_SUCCESS : GetLastError();
    copy.in.Close();
    if (!whole) {
      Discard(out);
      return CauseOfError(error);
    }
    WrittenCopy done{std::move(copy), std::move(out), std::move(temporary), copied};
    const Win32Calls& calls = CurrentWin32Calls();
    if (calls.flush_each_copy) {
      if (calls.flush_data_only(done.out.get())) {
        AddToBatch(std::move(done));
        return Cause::kNone;
      }
      if (!calls.flush_file(done.out.get())) {
        const DWORD failed = GetLastError();
        Discard(done.out);
        return CauseOfError(failed);
      }
    }
    return NameCopy(done);
  }

  // Gives a copy written whole (and on the disk) its name.
  Cause NameCopy(WrittenCopy& written) {
    PendingCopy& copy = written.copy;
    const HeldFolder& held = *copy.folder;
    // A pits file copied from a CD is read-only, and so is its earlier copy:
    // replacing it means lifting that attribute first, and putting it back
    // when the replacement fails.
    const DWORD existing = copy.existing;
    const bool read_only = existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY);
    if (read_only && !SetAttributes(held, copy.name, existing & ~FILE_ATTRIBUTE_READONLY)) {
      const DWORD error = GetLastError();
      Discard(written.out);
      return CauseOfCopyError(error, copy);
    }
    // Without replacing, the rename fails if the name was taken meanwhile.
    if (!Name(*copy.temporaries, held, written.out, written.temporary, copy.name, copy.target, copy.replace)) {
      const DWORD error = GetLastError();
      if (read_only) SetAttributes(held, copy.name, existing);
      Discard(written.out);
      return CauseOfCopyError(error, copy);
    }
    // The copy takes the source's attributes (read-only, archive) once it has its name.
    SetAttributes(written.out.get(), copy.info.FileAttributes & kCopiedAttributes);
    counters_.named.fetch_add(written.bytes, std::memory_order_relaxed);
    return Cause::kNone;
  }

  // Copies whose data is written out wait here; a full batch is flushed and
  // named by the thread that filled it.
  static constexpr std::size_t kBatch = 1000;
  void AddToBatch(WrittenCopy written) {
    std::vector<WrittenCopy> full;
    {
      const std::lock_guard<std::mutex> lock(batch_mutex_);
      batch_.push_back(std::move(written));
      if (batch_.size() < kBatch) return;
      full.swap(batch_);
    }
    FlushAndName(full);
  }
  void FlushWaitingCopies() {
    std::vector<WrittenCopy> waiting;
    {
      const std::lock_guard<std::mutex> lock(batch_mutex_);
      waiting.swap(batch_);
    }
    FlushAndName(waiting);
  }
  // One full flush, which reaches the drive's cache, covers every copy of
  // the batch: then each gets its name; when it fails, none does.
  void FlushAndName(std::vector<WrittenCopy>& batch) {
    if (batch.empty()) return;
    const bool flushed = CurrentWin32Calls().flush_file(batch.back().out.get());
    const DWORD error = flushed ? ERROR_SUCCESS : GetLastError();
    for (WrittenCopy& written : batch) {
      Cause cause = Cause::kNone;
      if (flushed) {
        cause = NameCopy(written);
      } else {
        Discard(written.out);
        cause = CauseOfError(error);
      }
      if (cause != Cause::kNone) late_.Add(std::move(written.copy.path), cause);
    }
  }

  // A name taken meanwhile by a file leaves that file there, as a copy that
  // never replaces would; a write that failed says why.
  static Cause CauseOfCopyError(DWORD error, const PendingCopy& copy) {
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      const DWORD there = AttributesOf(copy.target);
      const bool file = there != INVALID_FILE_ATTRIBUTES && !(there & FILE_ATTRIBUTE_DIRECTORY) &&
                        !IsLink(copy.target, there);
      return file ? Cause::kAlreadyThere : Cause::kNameTaken;
    }
    // A temporary that landed elsewhere through a link, which Windows does not call an error.
    return error == ERROR_SUCCESS ? Cause::kLinked : CauseOfError(error);
  }

  // As many helpers as processors beside the deciding thread, at most three:
  // Windows' storage stack serves several requests in flight better than one.
  static std::size_t Helpers() {
    const std::size_t processors = std::max(std::thread::hardware_concurrency(), 1u);
    return std::min<std::size_t>(processors - 1, 3);
  }

  // Runs `attempt` until it succeeds or fails for another reason than a
  // passing hold on `path`, pausing longer each time: each file for about a
  // second, enough for a virus scanner's moment, and the whole command for
  // about ten, so that a game that holds many files costs no more.
  template <typename Attempt>
  auto WaitingOutHolds(const std::wstring& path, Attempt attempt) {
    DWORD pause = 1;
    DWORD file_left = CurrentWin32Calls().hold_wait_per_file_ms;
    for (;;) {
      auto result = attempt();
      if (result) return result;
      const DWORD error = GetLastError();
      const DWORD wait = IsPassingHold(error, path) ? TakeFromBudget(std::min(pause, file_left)) : 0;
      if (wait == 0) {
        SetLastError(error);
        return result;
      }
      Sleep(wait);
      file_left -= wait;
      pause *= 2;
    }
  }

  // Up to `pause` ms of the command's budget for waiting out holds, shared
  // by the helpers; 0 once it is spent.
  DWORD TakeFromBudget(DWORD pause) {
    DWORD left = hold_budget_ms_.load();
    while (left > 0 && !hold_budget_ms_.compare_exchange_weak(left, left - std::min(pause, left))) {
    }
    return std::min(pause, left);
  }

  // Gives the temporary, made in the held folder `made_in` (`folder` or a
  // sub-folder of it), its name in the held folder `folder`, once Windows
  // says it is where it was made; a hold on the file it replaces (at
  // `target`) is waited out.
  bool Name(const HeldFolder& made_in, const HeldFolder& folder, const Handle& temporary,
            const std::wstring& temporary_name, const std::wstring& name, const std::wstring& target, bool replace) {
    if (!made_in.Holds(temporary.get(), temporary_name)) {
      SetLastError(ERROR_SUCCESS);  // no error: the temporary is somewhere else
      return false;
    }
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
    std::set<Identity> seen;
    std::wstring path = root_;
    for (std::size_t depth = 0;; ++depth) {
      const auto identity = IdentityOf(path);
      if (identity && !seen.insert(*identity).second) return true;
      if (depth == folder.size()) return false;
      path += L"\\" + Widen(folder[depth]);
    }
  }

  // Copies the rest of `from` into `to`, counting the bytes in `copied` and
  // in the written counter as they go.
  bool CopyData(HANDLE from, HANDLE to, std::uint64_t& copied) {
    const BufferPool::Lent lent = buffers_.Lend();
    std::vector<char>& buffer = *lent;
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(from, buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
      if (got == 0) return true;
      if (!WriteAll(to, buffer.data(), got)) return false;
      copied += got;
      counters_.written.fetch_add(got, std::memory_order_relaxed);
    }
  }

  // A run killed part-way leaves its temporaries behind: the first write
  // into a folder removes those. Process ids repeat (Wine hands out the same
  // ones in every session), so the file decides: a temporary is written
  // through a handle that shares no deletion, so one that can be deleted is
  // a leftover, and one being written cannot be. So does a temporaries'
  // folder, held without delete sharing while its run lives.
  void SweepStaleTemporaries(const std::wstring& folder) {
    if (swept_.insert(folder).second) ForEachEntry(folder, nullptr);
  }

  // Lists `folder` whole, sweeping leftover temporaries, and hands `take`,
  // if any, every other entry.
  using EntryTaker = std::function<void(const std::wstring& path, const WIN32_FIND_DATAW& found)>;
  void ForEachEntry(const std::wstring& folder, const EntryTaker& take) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(Long(folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      const std::wstring path = folder + L"\\" + found.cFileName;
      if (!IsTemporaryName(found.cFileName)) {
        if (take) take(path, found);
      } else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(Long(path).c_str());  // a link of that name goes, not what it leads to
      } else if (IsFolderOfItsOwn(folder, found)) {
        ForEachEntry(path, nullptr);
        RemoveDirectoryW(Long(path).c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  // True when the entry `found` in `folder` is a folder that lies there, not
  // a link or junction to somewhere else: a sweep never goes through one,
  // whatever its tag (a Unix link under Wine shows none, but Windows names
  // the folder it leads to).
  static bool IsFolderOfItsOwn(const std::wstring& folder, const WIN32_FIND_DATAW& found) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const Handle parent(CreateFileW(Long(folder).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const Handle entry(CreateFileW(Long(folder + L"\\" + found.cFileName).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    if (!parent || !entry) return false;
    const std::wstring parent_name = NativeNameOf(parent.get());
    const std::wstring expected = parent_name + L"\\" + found.cFileName;
    const std::wstring actual = NativeNameOf(entry.get());
    return !parent_name.empty() && SameNameIgnoringCase(actual, expected);
  }

  // The names in `folder`, by their keys: listed once, with leftovers swept,
  // then kept up to date with the copies named there.
  // Where the game is virtualized, the names in the real folder `real` count
  // as taken too: the game sees them.
  std::unordered_set<std::string>& NamesIn(const std::wstring& folder, const std::wstring& real) {
    const auto [at, added] = names_.try_emplace(folder);
    if (added) {
      swept_.insert(folder);
      ForEachEntry(folder, [&names = at->second](const std::wstring&, const WIN32_FIND_DATAW& found) {
        if (const std::optional<std::string> key = KeyOf(found.cFileName)) names.insert(*key);
      });
      if (real != folder)
        for (const Entry& entry : ListFolder(real).value_or(std::vector<Entry>{})) at->second.insert(ToUpperName(entry.name));
    }
    return at->second;
  }

  // The hidden folder this object makes the temporaries of copies into
  // `folder` in: a sub-folder of it, held with it from the game folder down,
  // so that a temporary and its rename are looked up through the same
  // folders, and only the rename looks a name up in the large folder. Made
  // on the first copy into the folder, removed when this object goes. Null
  // when it cannot be made.
  std::shared_ptr<const HeldFolder> TemporariesIn(const GamePath& target_folder, const std::wstring& folder,
                                                  const HeldFolder& held) {
    const auto [at, added] = temporaries_.try_emplace(folder);
    if (!added) return at->second;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const std::wstring name =
          kTemporaryPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) + L".tmp";
      if (!held.Create(name, FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                       FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, FILE_ATTRIBUTE_HIDDEN)) {
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return nullptr;
        continue;
      }
      std::vector<std::wstring> names = NamesBelow(write_root_, target_folder);
      names.push_back(name);
      if (std::optional<HeldFolder> opened = HeldFolder::Open(write_root_, names))
        at->second = std::make_shared<const HeldFolder>(std::move(*opened));
      temporary_folders_.push_back(folder + L"\\" + name);
      return at->second;
    }
    return nullptr;
  }

  std::wstring root_;
  GameView view_;
  std::wstring write_root_;
  mutable std::map<std::wstring, bool> case_sensitive_;  // by folder, asked once
  std::set<std::wstring> swept_;
  std::map<std::wstring, std::unordered_set<std::string>> names_;
  std::map<std::wstring, std::shared_ptr<const HeldFolder>> temporaries_;
  std::vector<std::wstring> temporary_folders_;
  std::shared_ptr<const HeldFolder> held_;
  GamePath held_path_;
  std::atomic<DWORD> hold_budget_ms_{CurrentWin32Calls().hold_wait_per_command_ms};
  BufferPool buffers_;     // lent to the helpers
  std::mutex batch_mutex_;
  std::vector<WrittenCopy> batch_;  // written out, waiting for a full flush
  LateFailures late_;      // told by the helpers
  CopyCounters counters_;  // added to by the helpers
  // Last: its helpers are done before the folders they write into go.
  std::unique_ptr<WorkSharing<PendingCopy>> writers_ =
      std::make_unique<WorkSharing<PendingCopy>>(Helpers(), [this](PendingCopy& copy) { Write(copy); });
};

}  // namespace

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<Win32FileSystem>(game);
}

void RaiseOpenFileLimit() {}  // Windows has no such limit on handles

}  // namespace velmora

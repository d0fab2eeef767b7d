// The file system below the game folder on Windows, where names already
// ignore letter case: paths are the game folder and the names joined by "\".
//
// Writes never go through a link or junction (see WriteFolders); reads
// follow links to folders, as far as they lead nowhere they have been.
// The pits copy replaces read-only files too; Qorvane.ini that is read-only
// is the user's to keep.
// A file gets its name only when it is complete: it is written under a
// hidden temporary name and then renamed. A copy's temporary is made in a
// hidden sub-folder of its target folder, held with it, so that only its
// rename looks a name up in a large target folder; whether a name is taken
// there already comes from one listing of the folder, kept up to date with
// the names the command adds. A hold by a virus scanner or the indexer is
// waited out, within about two seconds for the whole command.
#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "platform/name_case.h"
#include "platform/piece_buffer.h"
#include "platform/win32/calls.h"
#include "platform/win32/copy_writer.h"
#include "platform/win32/durable_batch.h"
#include "platform/win32/exact_copy.h"
#include "platform/win32/handle.h"
#include "platform/win32/holds.h"
#include "platform/win32/source_files.h"
#include "platform/win32/status.h"
#include "platform/win32/temporaries.h"
#include "platform/win32/text.h"
#include "platform/win32/wine_mounts.h"
#include "platform/win32/write_folders.h"

namespace velmora {
namespace {

// The key a name is found by in a folder, letter case aside as Windows has
// it; empty for a name that is no valid UTF-16.
std::optional<std::string> KeyOf(const wchar_t* name) {
  std::optional<std::string> narrow = NarrowExactly(name);
  if (narrow) narrow = ToUpperName(*narrow);
  return narrow;
}

class Win32FileSystem : public FileSystem {
 public:
  explicit Win32FileSystem(const GameFolder& game) : folders_(Widen(game.Root())) {}
  ~Win32FileSystem() override {
    writer_.reset();        // every copy written
    batch_.FlushWaiting();  // and named, or discarded
  }

  // The entries of a folder as the game sees it: where it is virtualized,
  // the store's and the real folder's, merged, the store's first.
  Found<std::vector<Entry>> List(const GamePath& folder) override {
    if (GoesRoundInALoop(folders_.Path({}), folder)) return Cause::kLinked;
    Found<std::vector<Entry>> entries = ListFolder(folders_.Path(folder));
    if (!folders_.Virtualized()) return entries;
    Found<std::vector<Entry>> stored = ListFolder(folders_.StorePath(folder));
    if (!stored) return entries;
    std::unordered_set<std::string> seen;
    for (const Entry& entry : *stored) seen.insert(ToUpperName(entry.name));
    for (const Entry& entry : entries.value_or(std::vector<Entry>{}))
      if (!seen.count(ToUpperName(entry.name))) stored->push_back(entry);
    std::sort(stored->begin(), stored->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return stored;
  }

  // The names kept for a target folder go; its sweep stays done.
  void DoneWith(const GamePath& folder) override { names_.erase(folders_.WritePath(folder)); }

  FileResult CreateFolder(const GamePath& folder) override {
    return OnDisk(MakeFolder(folder), GamePath(folder.begin(), folder.end() - (folder.empty() ? 0 : 1)));
  }
  FileResult CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    return OnDisk(Copy(source, target_folder, replace), target_folder);
  }

 private:
  // Under Wine a write refused by a read-only Unix disk comes back as not
  // allowed: told as the read-only disk it is.
  FileResult OnDisk(FileResult result, const GamePath& folder) {
    if (result.cause == Cause::kNotAllowed && OnReadOnlyUnixMount(folders_.WritePath(folder)))
      result.cause = Cause::kReadOnlyDisk;
    return result;
  }

  FileResult MakeFolder(const GamePath& folder) {
    if (folder.empty()) return Cause::kAlreadyThere;
    const GamePath parent_path(folder.begin(), folder.end() - 1);
    const std::shared_ptr<const HeldFolder> parent = folders_.Open(parent_path);
    if (!parent) return folders_.WhyNotOpen(parent_path);
    if (parent->Create(Widen(folder.back()), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_CREATE,
                       FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT))
      return Cause::kNone;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      const std::wstring there = folders_.WritePath(folder);
      const DWORD attributes = AttributesOf(there);
      const bool folder_there = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !IsLink(there, attributes);
      return folder_there ? Cause::kAlreadyThere : Cause::kNameTaken;
    }
    return CauseOfError(error);
  }

  FileResult Copy(const GamePath& source, const GamePath& target_folder, Replace replace) {
    if (source.empty()) return Cause::kOther;
    const std::shared_ptr<const HeldFolder> held = folders_.Open(target_folder);
    if (!held) return folders_.WhyNotOpen(target_folder);
    const std::wstring folder = folders_.WritePath(target_folder);
    TakenNames& taken = NamesIn(folder, folders_.Path(target_folder));
    const std::wstring name = Widen(source.back());
    const std::wstring target = folder + L"\\" + name;
    const std::optional<std::string> key = KeyOf(name.c_str());
    GamePath written = target_folder;
    written.push_back(source.back());
    // A name taken since the listing is refused by the rename that does not replace.
    DWORD existing = INVALID_FILE_ATTRIBUTES;
    const auto listed = key ? taken.find(*key) : taken.end();
    if (!key || listed != taken.end()) {
      const std::wstring seen = folders_.ViewPath(written);  // as the game sees it now: read-only, a link, a folder
      // What the listing told is asked again only where it told nothing.
      const DWORD there = listed != taken.end() && listed->second != kNotListed ? listed->second : AttributesOf(seen);
      const bool file = there != INVALID_FILE_ATTRIBUTES && !IsLink(seen, there) && !(there & FILE_ATTRIBUTE_DIRECTORY);
      if (!file && there != INVALID_FILE_ATTRIBUTES) return Cause::kNameTaken;
      if (replace == Replace::kNo) return file ? Cause::kAlreadyThere : Cause::kNameTaken;
      existing = AttributesOf(target);  // the file the copy replaces where it is written
    }

    PendingCopy copy{OpenToRead(folders_.ViewPath(source), holds_),
                     {},
                     {held, nullptr, name, target, replace == Replace::kYes, existing, std::move(written)}};
    if (!copy.in) return CauseOfSourceError(GetLastError());
    if (!GetFileInformationByHandleEx(copy.in.get(), FileBasicInfo, &copy.info, sizeof copy.info) ||
        (copy.info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return Cause::kUnreadable;
    // Replacing a file with its own exact copy would change nothing on the
    // disk but cost a new file and a flush; a repeated run meets many such.
    if (existing != INVALID_FILE_ATTRIBUTES && IsExactCopy(copy.in.get(), copy.info, target)) return Cause::kNone;
    DWORD error = ERROR_SUCCESS;
    copy.to.temporaries = temporary_folders_.In(folder, *held, folders_.WriteRoot(),
                                                folders_.NamesBelow(folders_.WriteRoot(), target_folder), error);
    if (!copy.to.temporaries) return CauseOfError(error);
    // Taken from now on: a second copy of the name is refused here, not by the rename.
    if (key) taken.insert_or_assign(*key, kNotListed);
    writer_->Post(std::move(copy));
    return Cause::kNone;
  }

 public:
  std::vector<Failure> Settle() override {
    writer_->Drain();
    batch_.FlushWaiting();
    if (const std::size_t untold = writer_->Unrecorded()) throw UntoldFailures(untold);
    std::vector<Failure> late = late_.Take();
    for (Failure& failure : late)
      failure.cause = OnDisk(failure.cause, GamePath(failure.path.begin(), failure.path.end() - 1)).cause;
    return late;
  }
  const CopyCounters* Counters() const override { return &counters_; }

  std::optional<std::uint64_t> FileSize(const GamePath& file) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Long(folders_.ViewPath(file)).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return std::nullopt;
    return std::uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  }

  Found<std::string> ReadFile(const GamePath& file) override {
    const std::wstring path = folders_.ViewPath(file);
    Handle in = OpenToRead(path, holds_);
    if (!in) {
      const DWORD error = GetLastError();
      const DWORD attributes = AttributesOf(path);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return Cause::kNameTaken;
      return error == ERROR_ACCESS_DENIED ? Cause::kNotAllowed : CauseOfSourceError(error);
    }
    if (GetFileType(in.get()) != FILE_TYPE_DISK) return Cause::kUnreadable;
    std::string content;
    char buffer[1 << 16];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) return CauseOfSourceError(GetLastError());
      if (got == 0) return content;
      content.append(buffer, got);
    }
  }

  using FileSystem::WriteFile;
  FileResult WriteFile(const GamePath& file, const Pieces& pieces) override {
    if (file.empty()) return Cause::kOther;
    return OnDisk(Write(file, pieces), GamePath(file.begin(), file.end() - 1));
  }

 private:
  FileResult Write(const GamePath& file, const Pieces& pieces) {
    const GamePath parent(file.begin(), file.end() - 1);
    const std::shared_ptr<const HeldFolder> held = folders_.Open(parent);
    if (!held) return folders_.WhyNotOpen(parent);
    std::wstring target = folders_.WritePath(file);
    const std::wstring folder = target.substr(0, target.rfind(L'\\'));
    std::wstring seen = folders_.ViewPath(file);  // the file the game reads now
    // Where names are case-sensitive the game opens the file by the name
    // given, and only by it: another spelling beside it is another file.
    if (CaseSensitive(parent)) {
      target = folder + L"\\" + Widen(file.back());
      seen = seen.substr(0, seen.rfind(L'\\') + 1) + Widen(file.back());
    }
    const DWORD attributes = AttributesOf(seen);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(seen, attributes)) return Cause::kNameTaken;
      if (attributes & FILE_ATTRIBUTE_READONLY) return Cause::kNotAllowed;
    }
    sweep_.SweepOnce(folder);
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
    else if (whole && !NameTemporary(holds_, *held, *held, out, temporary, Widen(file.back()), target, true))
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

 public:
  std::optional<std::string> NativePath(const GamePath& path) override {
    const std::wstring native = folders_.ViewPath(path);
    if (AttributesOf(native) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return Narrow(native);
  }

  // Each name as the folder it is in lists it.
  Spelled AsOnDisk(const GamePath& path) override {
    Spelled spelled{path, 0};
    for (; spelled.found < path.size(); ++spelled.found) {
      const GamePath prefix(spelled.names.begin(), spelled.names.begin() + std::ptrdiff_t(spelled.found) + 1);
      WIN32_FIND_DATAW found;
      const HANDLE search = FindFirstFileExW(Long(folders_.ViewPath(prefix)).c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
      if (search == INVALID_HANDLE_VALUE) break;
      FindClose(search);
      if (const std::optional<std::string> name = NarrowExactly(found.cFileName)) spelled.names[spelled.found] = *name;
    }
    return spelled;
  }

  bool CaseSensitive(const GamePath& folder) override { return folders_.IsCaseSensitive(folders_.Path(folder)); }

 private:
  // The names in `folder`, by their keys: listed once, with leftovers swept,
  // then kept up to date with the copies named there.
  // Where the game is virtualized, the names in the real folder `real` count
  // as taken too: the game sees them.
  // The names in a target folder, by their uppercase form, with the
  // attributes its listing gave them: where the game sees that folder as it
  // is (no store merged into it), they tell a file already there without
  // asking again.
  static constexpr DWORD kNotListed = INVALID_FILE_ATTRIBUTES;
  using TakenNames = std::unordered_map<std::string, DWORD>;
  TakenNames& NamesIn(const std::wstring& folder, const std::wstring& real) {
    const auto [at, added] = names_.try_emplace(folder);
    if (added) {
      const bool as_seen = real == folder;
      sweep_.ListSweeping(folder, [&names = at->second, as_seen](const WIN32_FIND_DATAW& found) {
        // Two spellings of one name (a folder whose names are case-sensitive)
        // leave it to the game's own look-up which one it meets.
        if (const std::optional<std::string> key = KeyOf(found.cFileName))
          if (const auto [at, fresh] = names.emplace(*key, as_seen ? found.dwFileAttributes : kNotListed); !fresh)
            at->second = kNotListed;
      });
      if (!as_seen)
        for (const Entry& entry : ListFolder(real).value_or(std::vector<Entry>{}))
          at->second.insert_or_assign(ToUpperName(entry.name), kNotListed);
    }
    return at->second;
  }

  WriteFolders folders_;
  PassingHolds holds_;
  TemporarySweep sweep_;
  std::map<std::wstring, TakenNames> names_;
  TemporaryFolders temporary_folders_;  // removed once the copies written in them are named
  LateFailures late_;                   // told by the helpers
  CopyCounters counters_;               // added to by the helpers
  DurableBatch batch_{holds_, late_, counters_};
  // Last: its helpers are done before the folders they write into go.
  std::unique_ptr<CopyWriter> writer_ = std::make_unique<CopyWriter>(batch_, late_, counters_);
};

}  // namespace

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<Win32FileSystem>(game);
}

void RaiseOpenFileLimit() {}  // Windows has no such limit on handles

}  // namespace velmora

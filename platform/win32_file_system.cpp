// The file system below the game folder on Windows, where names already
// ignore letter case: paths are the game folder and the names joined by "\".
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/file_system.h"
#include "platform/win32_text.h"

namespace velmora {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
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

// A name in `folder` that nothing else uses; it begins with "." so that the
// listings, which leave out hidden files, never show it.
std::wstring TemporaryName(const std::wstring& folder) {
  static std::atomic<unsigned> counter{0};
  return folder + L"\\.velmora-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++) + L".tmp";
}

void RemoveTemporary(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}

class Win32FileSystem : public FileSystem {
 public:
  explicit Win32FileSystem(const GameFolder& game) : root_(Widen(game.Root())) {}

  std::optional<std::vector<Entry>> List(const GamePath& folder) override {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW((Path(folder) + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<Entry> entries;
    do {
      const std::string name = Narrow(found.cFileName);
      const DWORD attributes = found.dwFileAttributes;
      if (!IsSafeName(name) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
      entries.push_back({name, attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::kFolder : EntryKind::kFile,
                         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
  }

  bool CreateFolder(const GamePath& folder) override {
    return CreateDirectoryW(Path(folder).c_str(), nullptr) != 0;
  }

  bool CopyFile(const GamePath& source, const GamePath& target_folder, Replace replace) override {
    if (source.empty()) return false;
    const std::wstring folder = Path(target_folder);
    const std::wstring target = folder + L"\\" + Widen(source.back());
    if (replace == Replace::kNo && GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    // The copy is made complete under a temporary name, then renamed; without
    // MOVEFILE_REPLACE_EXISTING the rename fails if the name was taken meanwhile.
    const std::wstring temporary = TemporaryName(folder);
    const bool ok = CopyFileW(Path(source).c_str(), temporary.c_str(), TRUE) &&
                    MoveFileExW(temporary.c_str(), target.c_str(),
                                replace == Replace::kYes ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!ok) RemoveTemporary(temporary);
    return ok;
  }

  bool FileExists(const GamePath& file) override {
    const DWORD attributes = GetFileAttributesW(Path(file).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::optional<std::string> ReadFile(const GamePath& file) override {
    Handle in(CreateFileW(Path(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return std::nullopt;
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
    const std::wstring target = Path(file);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
      return false;
    const std::wstring temporary = TemporaryName(target.substr(0, target.rfind(L'\\')));
    Handle out(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    if (!out) return false;
    bool ok = true;
    while (ok && !content.empty()) {
      DWORD written = 0;
      const DWORD chunk = DWORD(std::min<std::size_t>(content.size(), 1 << 20));
      ok = ::WriteFile(out.get(), content.data(), chunk, &written, nullptr) && written > 0;
      content.remove_prefix(written);
    }
    ok = ok && FlushFileBuffers(out.get());
    ok = out.Close() && ok;
    ok = ok && MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) RemoveTemporary(temporary);
    return ok;
  }

  std::optional<std::string> NativePath(const GamePath& path) override {
    const std::wstring native = Path(path);
    if (GetFileAttributesW(native.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return Narrow(native);
  }

 private:
  std::wstring Path(const GamePath& path) const {
    std::wstring native = root_;
    for (const std::string& name : path) native += L"\\" + Widen(name);
    return native;
  }

  std::wstring root_;
};

}  // namespace

std::unique_ptr<FileSystem> OpenFileSystem(const GameFolder& game) {
  return std::make_unique<Win32FileSystem>(game);
}

}  // namespace velmora

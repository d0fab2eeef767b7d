#pragma once

// The few Windows calls whose answers cannot be made for real in a test (a
// folder link or a OneDrive placeholder Wine cannot create, a game that
// needs elevation, a high-contrast theme Wine does not keep): the program
// makes them through here, and a test may swap one.
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// Gives the open `file` the name `name` in the open `folder`: the POSIX
// rename where the volume has it, else, or where it fails but for a
// refusal or a file held, the older one.
BOOL RenameIntoFolder(HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace);
// NtSetInformationFile, by which files are renamed; its NTSTATUS.
LONG SetInformation(HANDLE file, void* info, ULONG length, int kind);
// The FILE_SUPPORTS_... flags of the volume `file` lies on; none where the
// system cannot say.
std::optional<DWORD> VolumeFlags(HANDLE file);
// Where a folder that is a reparse point leads, by its substitute name
// (\??\Volume{GUID}\ for a mounted disk, a folder's path for a
// junction); nothing when the system has no reparse data for it.
std::optional<std::wstring> ReparseTarget(HANDLE folder);

// Writes a file's data out of the system's cache to the drive, without its
// metadata and without flushing the drive's own cache
// (NtFlushBuffersFileEx with FLUSH_FLAGS_FILE_DATA_ONLY, Windows 8 on;
// looked up as the program runs, so that Windows 7 still loads it). FALSE
// where the call is missing or refused.
BOOL FlushDataOnly(HANDLE file);
// Whether this Windows has that flush at all (Wine and Windows 7 do not).
bool HasDataOnlyFlush();

bool IsCaseSensitiveFolder(const std::wstring& folder);

// The real answers about file virtualization (virtual_store.cpp).
int OwnVirtualization();
bool TurnOffOwnVirtualization();
bool VirtualizationPolicy();
std::vector<std::wstring> VirtualizedRoots();
std::wstring LocalAppData();
bool MayCreateIn(const std::wstring& folder);
bool RunsElevated(const std::wstring& program);
std::wstring CompatibilityLayers(HKEY root, REGSAM view, const std::wstring& program);

struct Win32Calls {
  std::function<DWORD(const wchar_t* path)> get_attributes = [](const wchar_t* path) {
    return GetFileAttributesW(path);
  };
  // The reparse tag of what `path` names, 0 for none: which kind of reparse
  // point it is (a link, a junction, a OneDrive placeholder, ...).
  std::function<DWORD(const wchar_t* path)> get_reparse_tag = [](const wchar_t* path) -> DWORD {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
  };
  // The reparse tag of an open file or folder (opened as `path`), 0 for none.
  std::function<DWORD(HANDLE file, const wchar_t* path)> get_handle_reparse_tag = [](HANDLE file,
                                                                                    const wchar_t*) -> DWORD {
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info)) return 0;
    return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? info.ReparseTag : 0;
  };
  // Told each entry a folder listing finds, before it is looked at; a test
  // may change it as Windows would report it. Empty: nothing to tell.
  std::function<void(WIN32_FIND_DATAW& found)> listed;
  std::function<BOOL(HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace)> rename_file =
      RenameIntoFolder;
  std::function<LONG(HANDLE file, void* info, ULONG length, int kind)> set_information = SetInformation;
  std::function<std::optional<DWORD>(HANDLE file)> volume_flags = VolumeFlags;
  std::function<std::optional<std::wstring>(HANDLE folder)> reparse_target = ReparseTarget;
  std::function<BOOL(const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                     STARTUPINFOW* startup, PROCESS_INFORMATION* process)>
      create_process = [](const wchar_t* application, wchar_t* command_line, const wchar_t* folder,
                          STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
        return CreateProcessW(application, command_line, nullptr, nullptr, FALSE, 0, nullptr, folder, startup,
                              process);
      };
  // The error of an open for deletion of `path` (0 when it opens): tells a
  // file another program holds from one this user may not replace.
  std::function<DWORD(const wchar_t* path)> probe_delete = [](const wchar_t* path) -> DWORD {
    const HANDLE probe = CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(probe);
    return 0;
  };
  // How long a file held by another program is waited for, and all the
  // files of one command together.
  DWORD hold_wait_per_file_ms = 1000;
  DWORD hold_wait_per_command_ms = 10000;
  // Whether each copy is flushed to the disk before it gets its name, so
  // that a power cut never leaves a named copy full of zeros (which "Copy
  // files" would never replace). On in the program; the benchmark prices it.
  bool flush_each_copy = true;
  // The full flush, which reaches the drive's own cache too.
  std::function<BOOL(HANDLE file)> flush_file = [](HANDLE file) { return FlushFileBuffers(file); };
  std::function<BOOL(HANDLE file)> flush_data_only = FlushDataOnly;
  // File virtualization (see virtual_store.h): whether it was on for this
  // process as it started (1), off (0) or unknown (-1), and turning it off.
  std::function<int()> own_virtualization = OwnVirtualization;
  std::function<bool()> turn_off_own_virtualization = TurnOffOwnVirtualization;
  // Whether it is on by policy: User Account Control (EnableLUA) and
  // EnableVirtualization, each on unless set to 0.
  std::function<bool()> virtualization_policy = VirtualizationPolicy;
  // The folders whose writes Windows virtualizes: both Program Files,
  // ProgramData and Windows.
  std::function<std::vector<std::wstring>()> virtualized_roots = VirtualizedRoots;
  // %LOCALAPPDATA%, below which the VirtualStore lies.
  std::function<std::wstring()> local_app_data = LocalAppData;
  // Whether this user may create a file in `folder`, as the game would.
  std::function<bool(const std::wstring& folder)> may_create_in = MayCreateIn;
  // Whether `program` runs elevated, and so sees the real folders: its
  // manifest asks for an execution level, or a RUNASADMIN layer is set.
  std::function<bool(const std::wstring& program)> runs_elevated = RunsElevated;
  // The compatibility layers ("~ RUNASADMIN ...") set for `program` in the
  // AppCompatFlags\Layers key of `root`, read in the registry view `view`.
  std::function<std::wstring(HKEY root, REGSAM view, const std::wstring& program)> compat_layers =
      CompatibilityLayers;
  // Whether names in `folder` are case-sensitive (fsutil file
  // setCaseSensitiveInfo, as WSL makes them); false where Windows cannot say.
  std::function<bool(const std::wstring& folder)> case_sensitive = IsCaseSensitiveFolder;
  // Whether the user has chosen a high-contrast theme.
  std::function<bool()> high_contrast = [] {
    HIGHCONTRASTW setting{};
    setting.cbSize = sizeof setting;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) &&
           (setting.dwFlags & HCF_HIGHCONTRASTON);
  };
  // Lets `message` through to `window` from programs of a lower integrity
  // level (ChangeWindowMessageFilterEx): the shell's registered messages do
  // not reach an elevated window otherwise.
  std::function<BOOL(HWND window, UINT message)> allow_message = [](HWND window, UINT message) {
    return ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr);
  };
  // The shell's start, which asks the user for elevation when a program needs it.
  std::function<BOOL(SHELLEXECUTEINFOW* execute)> shell_execute = [](SHELLEXECUTEINFOW* execute) {
    return ShellExecuteExW(execute);
  };
};

// Only links count as links: symbolic links, junctions and WSL's links.
// OneDrive's placeholders, deduplicated and some compressed files are
// reparse points too, and are ordinary files and folders.
bool IsLinkTag(DWORD tag);

// The calls in use; a test replaces one and puts the original back.
Win32Calls& CurrentWin32Calls();

// A path Windows takes at any length: absolute paths from 248 characters on
// (the limit of CreateDirectoryW) get the \\?\ prefix, \\?\UNC\ for shares.
std::wstring ExtendedLengthPath(std::wstring path);
inline std::wstring Long(const std::wstring& path) { return ExtendedLengthPath(path); }

// The attributes of what `path` names, INVALID_FILE_ATTRIBUTES when nothing.
inline DWORD AttributesOf(const std::wstring& path) { return CurrentWin32Calls().get_attributes(Long(path).c_str()); }

// Hands `take` each entry of the folder at `folder` but "." and "..", until
// it returns false; false when the folder cannot be listed.
bool FindEach(const std::wstring& folder, const std::function<bool(WIN32_FIND_DATAW& found)>& take);

// True when a folder whose reparse tag is IO_REPARSE_TAG_MOUNT_POINT is a
// disk mounted there, not a junction: the two share the tag, and a mounted
// disk's target is its volume ("Determining Whether a Directory Is a
// Mounted Folder", Microsoft Learn). Wine shows a Unix mount point below a
// drive with the tag but without reparse data: a mounted disk too.
bool IsMountedDisk(HANDLE folder);

// True when `path`, which has `attributes`, is a link or junction; a
// mounted disk is a real folder.
bool IsLink(const std::wstring& path, DWORD attributes);

}  // namespace velmora

// The Windows file system's guards, on real folders under Wine; a link
// (which Wine cannot make) and the failures of a held file are real or
// injected as each test says.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "config/ini_rewriter.h"
#include "copier/copy_run.h"
#include "platform/file_system.h"
#include "platform/listings.h"
#include "platform/string_list.h"
#include "platform/testing/injected.h"
#include "platform/testing/refused_threads.h"
#include "platform/testing/temp_game.h"
#include "platform/win32/calls.h"
#include "platform/win32/status.h"
#include "platform/win32/text.h"
#include "platform/win32/wine_mounts.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::TempGame;

// Reports the folder (and everything below it) as a reparse point with
// `tag`, as Windows does for a link (by default), a junction or a OneDrive
// placeholder.
void PretendReparsePoint(Win32Calls& calls, const fs::path& folder, DWORD tag = IO_REPARSE_TAG_SYMLINK) {
  const std::wstring linked = fs::path(folder).make_preferred().wstring();
  const auto below = [linked](std::wstring_view path) {
    if (path.starts_with(L"\\\\?\\")) path.remove_prefix(4);
    return path.substr(0, linked.size()) == linked;
  };
  calls.get_attributes = [below](const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return below(path) && attributes != INVALID_FILE_ATTRIBUTES ? attributes | FILE_ATTRIBUTE_REPARSE_POINT
                                                                  : attributes;
  };
  calls.get_reparse_tag = [below, tag](const wchar_t* path) -> DWORD { return below(path) ? tag : 0; };
  calls.get_handle_reparse_tag = [below, tag](HANDLE, const wchar_t* path) -> DWORD { return below(path) ? tag : 0; };
  // A junction, by default: it leads to another folder.
  calls.reparse_target = [](HANDLE) -> std::optional<std::wstring> { return L"\\??\\C:\\Elsewhere"; };
}
void PretendLinked(Win32Calls& calls, const fs::path& folder) { PretendReparsePoint(calls, folder); }

// Reports one name in every listing as a reparse point with `tag`.
void PretendListedAs(Win32Calls& calls, const std::wstring& name, DWORD tag) {
  calls.listed = [name, tag](WIN32_FIND_DATAW& found) {
    if (name != found.cFileName) return;
    found.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    found.dwReserved0 = tag;
  };
}

// Opens a file as a virus scanner would: without delete sharing.
HANDLE Hold(const fs::path& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool HasTemporaries(const TempGame& temp, const char* folder) {
  for (const std::string& name : temp.Names(folder))
    if (name.rfind(".velmora-", 0) == 0) return true;
  return false;
}

TEST(Win32FileSystemTest, NothingIsWrittenIntoALinkedFolderOrOverALinkedFile) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "geometry");
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  temp.Write("Qorvane.ini", "old");
  testing::Injected injected(CurrentWin32Calls());
  PretendLinked(injected.calls(), temp.At("ZENTOSEASON/tracks/Monaco"));
  auto file_system = OpenFileSystem(temp.game());
  EXPECT_EQ(file_system->CopyFile({"season02", "tracks", "Monaco", "Monaco.gdb"},
                                  {"ZENTOSEASON", "tracks", "Monaco"}, Replace::kYes)
                .cause,
            Cause::kLinked);
  EXPECT_FALSE(file_system->CreateFolder({"ZENTOSEASON", "tracks", "Monaco", "Pits"}));
  EXPECT_TRUE(temp.Names("ZENTOSEASON/tracks/Monaco").empty());

  PretendLinked(injected.calls(), temp.At("Qorvane.ini"));
  EXPECT_EQ(OpenFileSystem(temp.game())->WriteFile({"Qorvane.ini"}, "new").cause, Cause::kNameTaken);
  EXPECT_EQ(temp.Read("Qorvane.ini"), "old");
}

TEST(Win32FileSystemTest, OneDrivePlaceholdersAreReadAndWrittenIntoButJunctionsAndWslLinksAreNot) {
  constexpr DWORD kOneDrive = 0x9000301A, kWslLink = 0xA000001D;
  for (DWORD tag : {kOneDrive, DWORD(IO_REPARSE_TAG_MOUNT_POINT), kWslLink}) {
    TempGame temp;
    temp.Write("season02/tracks/Monaco/Monaco.gdb", "geometry");
    temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
    testing::Injected injected(CurrentWin32Calls());
    PretendReparsePoint(injected.calls(), temp.At("ZENTOSEASON"), tag);
    PretendListedAs(injected.calls(), L"Monaco.gdb", tag);
    auto file_system = OpenFileSystem(temp.game());
    const auto listed = file_system->List({"season02", "tracks", "Monaco"});
    ASSERT_TRUE(listed);
    const bool ordinary = tag == kOneDrive;
    EXPECT_EQ(listed->size(), ordinary ? 1u : 0u) << std::hex << tag;  // a linked file is left out
    EXPECT_EQ(file_system->CopyFile({"season02", "tracks", "Monaco", "Monaco.gdb"},
                                    {"ZENTOSEASON", "tracks", "Monaco"}, Replace::kNo)
                  .cause,
              ordinary ? Cause::kNone : Cause::kLinked)
        << std::hex << tag;
    file_system.reset();  // every copy named
    EXPECT_EQ(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"), ordinary);
  }
}

// A disk mounted in a folder (Disk Management's "Mount in the following
// empty NTFS folder") has the junction's tag, IO_REPARSE_TAG_MOUNT_POINT,
// and leads to a volume, \??\Volume{GUID}\ ("Determining Whether a
// Directory Is a Mounted Folder", Microsoft Learn); Wine shows a Unix mount
// point with the tag and no reparse data. Both are real folders to write in.
TEST(Win32FileSystemTest, ADiskMountedInAFolderIsWrittenIntoWhereAJunctionIsNot) {
  for (const std::optional<std::wstring> target :
       {std::optional<std::wstring>(L"\\??\\Volume{0b7c1c8e-7e2a-11ee-9b3f-806e6f6e6963}\\"),
        std::optional<std::wstring>(), std::optional<std::wstring>(L"\\??\\D:\\Games")}) {
    TempGame temp;
    temp.Write("season02/tracks/Monaco/Monaco.gdb", "geometry");
    temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
    testing::Injected injected(CurrentWin32Calls());
    PretendReparsePoint(injected.calls(), temp.At("ZENTOSEASON/tracks/Monaco"), IO_REPARSE_TAG_MOUNT_POINT);
    injected.calls().reparse_target = [target](HANDLE) { return target; };
    const bool mounted = !target || target->starts_with(L"\\??\\Volume{");
    auto file_system = OpenFileSystem(temp.game());
    EXPECT_EQ(file_system->CopyFile({"season02", "tracks", "Monaco", "Monaco.gdb"},
                                    {"ZENTOSEASON", "tracks", "Monaco"}, Replace::kNo)
                  .cause,
              mounted ? Cause::kNone : Cause::kLinked);
    file_system.reset();  // every copy named
    EXPECT_EQ(temp.Exists("ZENTOSEASON/tracks/Monaco/Monaco.gdb"), mounted);
  }
}

TEST(Win32FileSystemTest, UnderWineTheMountTableTellsAReadOnlyDiskFromARefusal) {
  const std::string_view mounts =
      "/dev/sda2 / ext4 rw,relatime 0 0\n"
      "tmpfs /home/p/Games/Dromvik/ZENTOSEASON/tracks tmpfs ro,nosuid 0 0\n"
      "/dev/sdb1 /media/p/Game\\040Disk exfat ro,relatime 0 0\n"
      "tmpfs /home/p/Games/Dromvik/ZENTOSEASON/tracks/Spa tmpfs rw 0 0\n";
  EXPECT_FALSE(MountedReadOnly(mounts, "/home/p/Games/Dromvik/Config.ini"));
  EXPECT_TRUE(MountedReadOnly(mounts, "/home/p/Games/Dromvik/ZENTOSEASON/tracks/Monaco"));
  EXPECT_FALSE(MountedReadOnly(mounts, "/home/p/Games/Dromvik/ZENTOSEASON/tracks/Spa/spa.gdb")) << "the nearest mount";
  EXPECT_FALSE(MountedReadOnly(mounts, "/home/p/Games/Dromvik/ZENTOSEASON/tracksX"));
  EXPECT_TRUE(MountedReadOnly(mounts, "/media/p/Game Disk/Dromvik"));
}

TEST(Win32FileSystemTest, ALinkedCircuitFolderIsListedAsAFolder) {
  TempGame temp;
  temp.Write("season02/tracks/Brazil/Brazil.gdb", "far");
  temp.MakeFolder("ZENTOSEASON/tracks/Brazil");
  testing::Injected injected(CurrentWin32Calls());
  PretendListedAs(injected.calls(), L"Brazil", IO_REPARSE_TAG_MOUNT_POINT);  // a junction to another disk
  const auto listed = OpenFileSystem(temp.game())->List({"season02", "tracks"});
  ASSERT_TRUE(listed);
  ASSERT_EQ(listed->size(), 1u);
  EXPECT_EQ(listed->front().kind, EntryKind::kFolder);
}

// Where Wine keeps a Windows path on the Unix side; empty outside Wine.
std::string UnixPathOf(const fs::path& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix_path = to_unix ? to_unix(path.c_str()) : nullptr;
  const std::string result = unix_path ? unix_path : "";
  if (unix_path) HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

// Swaps a folder for a link to another and back, every few milliseconds,
// from Wine's Unix side, where no Windows handle keeps a folder in place.
class UnixSwapper {
 public:
  UnixSwapper(const TempGame& temp, const std::string& folder, const std::string& outside) : temp_(temp) {
    temp.Write("swap.sh",
               "f=$1; n=0\n"
               "while [ ! -e \"$3\" ]; do\n"
               "  mv \"$f\" \"$f.real\" && ln -s \"$2\" \"$f\" && n=$((n+1)); sleep 0.002\n"
               "  [ -L \"$f\" ] && rm \"$f\"; [ -e \"$f\" ] || mv \"$f.real\" \"$f\"; sleep 0.002\n"
               "done\n"
               "echo $n > \"$4\"\n");
    std::wstring command = Widen("sh \"" + UnixPathOf(temp.At("swap.sh")) + "\" \"" + folder + "\" \"" + outside +
                                 "\" \"" + UnixPathOf(temp.root()) + "/stop\" \"" + UnixPathOf(temp.root()) + "/swaps\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    started_ = CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process);
    if (started_) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  bool started() const { return started_; }
  // Ends the swaps, the folder back in its place; how many there were.
  int Stop() {
    temp_.Write("stop", "");
    for (int i = 0; i < 1000 && !temp_.Exists("swaps"); ++i) Sleep(10);
    return std::atoi(temp_.Read("swaps").c_str());
  }

 private:
  const TempGame& temp_;
  bool started_ = false;
};

TEST(Win32FileSystemTest, AFolderSwappedForALinkAgainAndAgainDuringACopyGetsNothingOutside) {
  TempGame temp, outside;
  outside.MakeFolder("monaco");
  constexpr int kFiles = 2000;
  const std::string content(16 << 10, 'x');
  for (int i = 0; i < kFiles; ++i) temp.Write("season02/tracks/Monaco/part" + std::to_string(i), content);
  temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
  const std::string folder = UnixPathOf(temp.At("ZENTOSEASON/tracks/Monaco"));
  if (folder.empty()) GTEST_SKIP() << "the swaps are made from Wine's Unix side";
  const auto copy_all = [&] {
    auto file_system = OpenFileSystem(temp.game());
    for (int i = 0; i < kFiles; ++i)
      file_system->CopyFile({"season02", "tracks", "Monaco", "part" + std::to_string(i)},
                            {"ZENTOSEASON", "tracks", "Monaco"}, Replace::kNo);
  };
  UnixSwapper swapper(temp, folder, UnixPathOf(outside.At("monaco")));
  ASSERT_TRUE(swapper.started());
  // Two runs: each holds the folder anew, whichever it finds there.
  for (int run = 0; run < 2; ++run) copy_all();
  EXPECT_GT(swapper.Stop(), 10);
  EXPECT_TRUE(outside.Names("monaco").empty()) << outside.Names("monaco").size() << " files landed outside";
  // A run in peace sweeps what the swaps left behind and completes the copy.
  copy_all();
  const std::vector<std::string> names = temp.Names("ZENTOSEASON/tracks/Monaco");
  EXPECT_EQ(names.size(), std::size_t(kFiles));
  EXPECT_FALSE(HasTemporaries(temp, "ZENTOSEASON/tracks/Monaco"));
  EXPECT_FALSE(temp.Exists("ZENTOSEASON/tracks/Monaco.real"));
}

TEST(Win32FileSystemTest, LeftoverTemporariesAreSweptWhateverProcessIdTheyNameButNotOneBeingWritten) {
  TempGame temp;
  // Wine gives the same process ids in every session: a killed run may have
  // had this very one.
  const std::string own = ".velmora-" + std::to_string(GetCurrentProcessId());
  for (int i = 0; i < 5; ++i) temp.Write(own + "-" + std::to_string(i) + ".tmp", "left");
  temp.Write(".velmora-4000000000-0.tmp", "left");
  temp.Write(".velmora-notes.txt", "not ours");
  // One still being written, through a handle that shares no deletion.
  temp.Write(".velmora-77-1.tmp", "being written");
  const HANDLE writer = CreateFileW(temp.At(".velmora-77-1.tmp").c_str(), GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(OpenFileSystem(temp.game())->WriteFile({"Qorvane.ini"}, "new"));
  CloseHandle(writer);
  EXPECT_EQ(temp.Read("Qorvane.ini"), "new");
  EXPECT_EQ(temp.Names(), (std::vector<std::string>{".velmora-77-1.tmp", ".velmora-notes.txt", "Qorvane.ini"}));
  EXPECT_EQ(GetFileAttributesW(temp.At("Qorvane.ini").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

  temp.Write("season02/tracks/season.trk", "list");
  temp.Write("ZENTOSEASON/tracks/.velmora-4000000000-7.tmp", "left");
  EXPECT_TRUE(OpenFileSystem(temp.game())->CopyFile({"season02", "tracks", "season.trk"},
                                                    {"ZENTOSEASON", "tracks"}, Replace::kNo));
  EXPECT_EQ(temp.Names("ZENTOSEASON/tracks"), std::vector<std::string>{"season.trk"});
}

TEST(Win32FileSystemTest, ThePitsCopyReplacesReadOnlyPitFilesButQorvaneIniReadOnlyStays) {
  TempGame temp;
  temp.Write("season02/tracks/pits/ORDER.PIT", "pit order");
  temp.MakeFolder("ZENTOSEASON/tracks");
  const auto read_only = [&](const char* name) {
    SetFileAttributesW(temp.At(name).c_str(), FILE_ATTRIBUTE_READONLY);
  };
  read_only("season02/tracks/pits/ORDER.PIT");  // as copied from a CD
  {
    auto file_system = OpenFileSystem(temp.game());
    CopyFolderReplacing(*file_system, {"season02", "tracks", "pits"}, {"ZENTOSEASON", "tracks", "Pits"});
  }
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "pit order");
  SetFileAttributesW(temp.At("season02/tracks/pits/ORDER.PIT").c_str(), FILE_ATTRIBUTE_NORMAL);
  temp.Write("season02/tracks/pits/ORDER.PIT", "pit order v2");
  read_only("season02/tracks/pits/ORDER.PIT");
  {
    auto file_system = OpenFileSystem(temp.game());
    CopyFolderReplacing(*file_system, {"season02", "tracks", "pits"}, {"ZENTOSEASON", "tracks", "Pits"});
  }
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "pit order v2");
  EXPECT_NE(GetFileAttributesW(temp.At("ZENTOSEASON/tracks/Pits/ORDER.PIT").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  temp.Write("Qorvane.ini", "the user's own");
  read_only("Qorvane.ini");
  EXPECT_FALSE(OpenFileSystem(temp.game())->WriteFile({"Qorvane.ini"}, "new"));
  EXPECT_EQ(temp.Read("Qorvane.ini"), "the user's own");
}

// A repeated pits copy leaves every exact copy as it is, with no new file
// and no flush; a file that differs in its bytes, its time or its
// read-only mark is copied again.
TEST(Win32FileSystemTest, ARepeatedPitsCopyWritesNoFileThatIsAlreadyAnExactCopy) {
  TempGame temp;
  for (const char* name : {"ORDER.PIT", "lane.txt", "crews/crew1.mas", "empty.dat"})
    temp.Write(std::string("season02/tracks/pits/") + name, std::string(name) == "empty.dat" ? "" : std::string(70000, name[0]));
  temp.MakeFolder("ZENTOSEASON/tracks");
  testing::Injected<Win32Calls> injected(CurrentWin32Calls());
  static std::atomic<int> named{0};
  injected.calls().rename_file = [](HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace) {
    ++named;
    return RenameIntoFolder(file, folder, name, replace);
  };
  const auto copy_pits = [&] {
    named = 0;
    auto file_system = OpenFileSystem(temp.game());
    CopyFolderReplacing(*file_system, {"season02", "tracks", "pits"}, {"ZENTOSEASON", "tracks", "Pits"});
    EXPECT_TRUE(file_system->Settle().empty());
    return named.load();
  };
  EXPECT_EQ(copy_pits(), 4);
  EXPECT_EQ(copy_pits(), 0) << "exact copies written again";
  // Same size and time, one byte changed in the copy: copied again.
  std::string changed(70000, 'l');
  changed[69999] = 'x';
  const std::wstring copy = temp.At("ZENTOSEASON/tracks/Pits/lane.txt").wstring();
  FILETIME time;
  {
    const HANDLE source = CreateFileW(temp.At("season02/tracks/pits/lane.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    GetFileTime(source, nullptr, nullptr, &time);
    CloseHandle(source);
  }
  temp.Write("ZENTOSEASON/tracks/Pits/lane.txt", changed);
  const HANDLE target = CreateFileW(copy.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(target, nullptr, nullptr, &time);
  CloseHandle(target);
  SetFileAttributesW(temp.At("ZENTOSEASON/tracks/Pits/ORDER.PIT").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(copy_pits(), 2);
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Pits/lane.txt"), std::string(70000, 'l'));
  EXPECT_EQ(GetFileAttributesW(temp.At("ZENTOSEASON/tracks/Pits/ORDER.PIT").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

// A repeated copy learns from the target folder's one listing which names
// are files already there, and asks nothing more of them; a name its
// listing shows as a folder is still told as taken.
TEST(Win32FileSystemTest, FilesAlreadyThereAreToldFromTheListingWithoutAskingForEach) {
  TempGame temp;
  for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"}) temp.Write(std::string("season02/tracks/Monaco/") + name, name);
  for (const char* name : {"A.DAT", "b.dat", "c.dat"}) temp.Write(std::string("ZENTOSEASON/tracks/MONACO/") + name, "old");
  temp.MakeFolder("ZENTOSEASON/tracks/MONACO/d.dat");
  testing::Injected<Win32Calls> injected(CurrentWin32Calls());
  static std::atomic<int> asked{0};
  asked = 0;
  injected.calls().get_attributes = [](const wchar_t* path) {
    ++asked;
    return GetFileAttributesW(path);
  };
  auto file_system = OpenFileSystem(temp.game());
  const GamePath target{"ZENTOSEASON", "tracks", "MONACO"};
  for (const char* name : {"a.dat", "b.dat", "c.dat"})
    EXPECT_EQ(file_system->CopyFile({"season02", "tracks", "Monaco", name}, target, Replace::kNo).cause,
              Cause::kAlreadyThere) << name;
  EXPECT_EQ(asked.load(), 0);
  EXPECT_EQ(file_system->CopyFile({"season02", "tracks", "Monaco", "d.dat"}, target, Replace::kNo).cause,
            Cause::kNameTaken);
  EXPECT_TRUE(file_system->Settle().empty());
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/MONACO/b.dat"), "old");
}

TEST(Win32FileSystemTest, NamesEndingInADotOrABlankAreLeftOutAtEveryLength) {
  TempGame temp;
  temp.Write("season02/tracks/Monaco/plain.gdb", "x");
  std::wstring deep = L"\\\\?\\" + temp.At("season02/tracks/Monaco").make_preferred().wstring();
  for (const wchar_t* name : {L"\\trail.", L"\\blank "}) {
    const HANDLE file = CreateFileW((deep + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }
  const auto listed = OpenFileSystem(temp.game())->List({"season02", "tracks", "Monaco"});
  // Removed the same way they were made: the library's removal by plain
  // path never finds them under Wine and does not come back.
  for (const wchar_t* name : {L"\\trail.", L"\\blank "}) DeleteFileW((deep + name).c_str());
  ASSERT_TRUE(listed);
  ASSERT_EQ(listed->size(), 1u);
  EXPECT_EQ(listed->front().name, "plain.gdb");
}

TEST(Win32FileSystemTest, AWriteWaitsOutAFileHeldForAMoment) {
  TempGame temp;
  temp.Write("Qorvane.ini", "old");
  const HANDLE held = Hold(temp.At("Qorvane.ini"));
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CloseHandle(held);
  });
  EXPECT_TRUE(OpenFileSystem(temp.game())->WriteFile({"Qorvane.ini"}, "new"));
  release.join();
  EXPECT_EQ(temp.Read("Qorvane.ini"), "new");
}

// Counts the renames tried, by the name given, passing each on to Windows.
std::map<std::wstring, int>& CountRenames(Win32Calls& calls) {
  static std::mutex mutex;
  static std::map<std::wstring, int> renames;
  renames.clear();
  calls.rename_file = [](HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace) {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      ++renames[name];
    }
    return RenameIntoFolder(file, folder, name, replace);
  };
  return renames;
}

// Each file held by another program is waited for on its own, within the
// command's cap: a game that holds many files costs the cap, no more, and
// a file met after a long hold still gets its wait.
TEST(Win32FileSystemTest, FilesHeldForLongAreEachWaitedForWithinTheCommandsCapAndKeepTheirOldContent) {
  TempGame temp;
  temp.Write("Qorvane.ini", "old");
  std::vector<HANDLE> held = {Hold(temp.At("Qorvane.ini"))};
  for (int i = 0; i < 10; ++i) {
    const std::string name = "PIT" + std::to_string(i) + ".PIT";
    temp.Write("season02/tracks/pits/" + name, "new");
    temp.Write("ZENTOSEASON/tracks/Pits/" + name, "old");
    held.push_back(Hold(temp.At("ZENTOSEASON/tracks/Pits/" + name)));
  }
  testing::Injected injected(CurrentWin32Calls());
  injected.calls().hold_wait_per_file_ms = 64;  // pauses of 1, 2, 4 ... 32, then the last 1 ms: 8 tries
  injected.calls().hold_wait_per_command_ms = 200;
  const std::map<std::wstring, int>& renames = CountRenames(injected.calls());
  auto file_system = OpenFileSystem(temp.game());
  EXPECT_FALSE(file_system->WriteFile({"Qorvane.ini"}, "new"));
  for (int i = 0; i < 10; ++i)
    file_system->CopyFile({"season02", "tracks", "pits", "PIT" + std::to_string(i) + ".PIT"},
                          {"ZENTOSEASON", "tracks", "Pits"}, Replace::kYes);
  file_system.reset();  // every copy tried, with the files still held
  for (HANDLE handle : held) CloseHandle(handle);
  EXPECT_EQ(renames.at(L"Qorvane.ini"), 8);
  int pits_tries = 0, pits_waited = 0;
  for (int i = 0; i < 10; ++i) {
    const int tries = renames.at(L"PIT" + std::to_wstring(i) + L".PIT");
    EXPECT_LE(tries, 8);
    pits_tries += tries;
    pits_waited += tries > 1;
  }
  EXPECT_GE(pits_waited, 1) << "the first file's wait took every later one's";
  // 136 ms of the cap were left for the pits: at most 136 pauses of 1 ms.
  EXPECT_LE(pits_tries, 10 + 136);
  EXPECT_EQ(temp.Read("Qorvane.ini"), "old");
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Pits/PIT3.PIT"), "old");
  EXPECT_FALSE(HasTemporaries(temp, ""));
  EXPECT_FALSE(HasTemporaries(temp, "ZENTOSEASON/tracks/Pits"));
}

// A scanner or indexer opens a file sharing its deletion; a rename over it
// then fails with access denied while it is open (MS-FSCC 2.4.42, before
// POSIX semantics), though this user may replace it: that is waited out.
TEST(Win32FileSystemTest, APitsFileHeldByAScannerThatSharesDeletionIsReplacedOnceItLetsGo) {
  TempGame temp;
  temp.Write("season02/tracks/pits/ORDER.PIT", "new");
  temp.Write("ZENTOSEASON/tracks/Pits/ORDER.PIT", "old");
  testing::Injected injected(CurrentWin32Calls());
  static std::atomic<bool> scanning{true};
  scanning = true;
  injected.calls().rename_file = [](HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace) {
    if (scanning) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    return RenameIntoFolder(file, folder, name, replace);
  };
  std::thread scanner([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    scanning = false;
  });
  OpenFileSystem(temp.game())->CopyFile({"season02", "tracks", "pits", "ORDER.PIT"}, {"ZENTOSEASON", "tracks", "Pits"},
                                        Replace::kYes);
  scanner.join();
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "new");
}

// Past the wait, a scanner's hold (an access denied on a file this user may
// delete, MS-FSCC 2.4.42) is told as the file in use, not as a refusal;
// a real permission as not allowed.
TEST(Win32FileSystemTest, AHoldThatOutlastsTheWaitIsToldAsInUseAndARealPermissionAsNotAllowed) {
  TempGame temp;
  temp.Write("season02/tracks/pits/ORDER.PIT", "new");
  temp.Write("ZENTOSEASON/tracks/Pits/ORDER.PIT", "old");
  testing::Injected injected(CurrentWin32Calls());
  injected.calls().hold_wait_per_file_ms = 8;
  injected.calls().rename_file = [](HANDLE, HANDLE, const wchar_t*, BOOL) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  };
  for (const bool deletable : {true, false}) {
    static bool may_delete;
    may_delete = deletable;
    injected.calls().probe_delete = [](const wchar_t*) -> DWORD { return may_delete ? 0 : ERROR_ACCESS_DENIED; };
    auto file_system = OpenFileSystem(temp.game());
    file_system->CopyFile({"season02", "tracks", "pits", "ORDER.PIT"}, {"ZENTOSEASON", "tracks", "Pits"},
                          Replace::kYes);
    const std::vector<Failure> failures = file_system->Settle();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].cause, deletable ? Cause::kInUse : Cause::kNotAllowed);
  }
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "old");
}

TEST(Win32FileSystemTest, AnAccessDeniedThatIsNoHoldIsNotWaitedFor) {
  TempGame temp;
  temp.Write("season02/tracks/pits/ORDER.PIT", "new");
  temp.Write("ZENTOSEASON/tracks/Pits/ORDER.PIT", "old");
  testing::Injected injected(CurrentWin32Calls());
  static int renames = 0;
  injected.calls().rename_file = [](HANDLE, HANDLE, const wchar_t*, BOOL) {
    ++renames;
    SetLastError(ERROR_ACCESS_DENIED);  // a permission: the file cannot be opened for deletion either
    return FALSE;
  };
  injected.calls().probe_delete = [](const wchar_t*) -> DWORD { return ERROR_ACCESS_DENIED; };
  OpenFileSystem(temp.game())->CopyFile({"season02", "tracks", "pits", "ORDER.PIT"}, {"ZENTOSEASON", "tracks", "Pits"},
                                        Replace::kYes);
  EXPECT_EQ(renames, 1);
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Pits/ORDER.PIT"), "old");
}

TEST(Win32FileSystemTest, AConfigHeldForAMomentIsReadOnceItIsLetGo) {
  TempGame temp;
  temp.Write("Config.ini", "SaveDir=save\\\r\n");
  const HANDLE held = CreateFileW(temp.At("Config.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CloseHandle(held);
  });
  const auto content = OpenFileSystem(temp.game())->ReadFile({"Config.ini"});
  release.join();
  ASSERT_TRUE(content);
  EXPECT_EQ(*content, "SaveDir=save\\\r\n");
}

TEST(Win32FileSystemTest, CopiesReachTargetsBelowPathsOfOver300Characters) {
  TempGame temp;
  std::string deep = "season02/tracks";
  for (char letter : {'a', 'b', 'c', 'd'}) deep += "/" + std::string(70, letter);
  std::wstring target = ExtendedLengthPath(temp.At("ZENTOSEASON").wstring());
  CreateDirectoryW(target.c_str(), nullptr);
  for (char letter : {'x', 'y', 'z', 'w'}) {
    target += L"\\" + std::wstring(70, wchar_t(letter));
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  ASSERT_GT(target.size(), 300u);
  temp.Write("season02/tracks/Monaco.gdb", "geometry");
  GamePath into{"ZENTOSEASON"};
  for (char letter : {'x', 'y', 'z', 'w'}) into.push_back(std::string(70, letter));
  ASSERT_TRUE(OpenFileSystem(temp.game())->CopyFile({"season02", "tracks", "Monaco.gdb"}, into, Replace::kNo));
  auto file_system = OpenFileSystem(temp.game());
  GamePath copy = into;
  copy.push_back("Monaco.gdb");
  EXPECT_EQ(file_system->ReadFile(copy), "geometry");
  into.push_back("Pits");
  EXPECT_TRUE(file_system->CreateFolder(into));
}

// Copies are written on helper threads beside the one deciding on them;
// with helpers or without, each copy is whole under its name, and the
// temporaries' folders are gone at the end.
TEST(Win32FileSystemTest, EveryCopyIsWholeWithHelpersAndWhenNoHelperCanStart) {
  for (const bool refused : {false, true}) {
    TempGame temp;
    for (int i = 0; i < 200; ++i)
      temp.Write("season02/tracks/Monaco/part" + std::to_string(i), std::string(1000 + 97 * i, char('a' + i % 26)));
    temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
    std::optional<testing::RefusedThreads> no_helpers;
    if (refused) no_helpers.emplace(std::set<std::string>{"copy-helper"});
    {
      auto file_system = OpenFileSystem(temp.game());
      for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(file_system->CopyFile({"season02", "tracks", "Monaco", "part" + std::to_string(i)},
                                          {"ZENTOSEASON", "tracks", "Monaco"}, Replace::kNo));
    }
    EXPECT_EQ(temp.Names("ZENTOSEASON/tracks/Monaco").size(), 200u) << (refused ? "without helpers" : "");
    for (int i = 0; i < 200; i += 37)
      EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/Monaco/part" + std::to_string(i)),
                std::string(1000 + 97 * i, char('a' + i % 26)));
    EXPECT_FALSE(HasTemporaries(temp, "ZENTOSEASON/tracks/Monaco"));
  }
}

// A OneDrive placeholder's state (pinned, offline, recalled on access) is
// its provider's: the copy is a whole local file, read-only and hidden as
// its source was.
TEST(Win32FileSystemTest, ACopyTakesItsSourcesReadOnlyAndHiddenButNoCloudState) {
  constexpr DWORD kPinned = 0x80000, kRecallOnDataAccess = 0x400000;
  TempGame temp;
  temp.Write("season02/tracks/season.trk", "list");
  temp.MakeFolder("ZENTOSEASON/tracks");
  const std::wstring source = temp.At("season02/tracks/season.trk").wstring();
  SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_OFFLINE |
                                         kPinned | kRecallOnDataAccess);
  ASSERT_TRUE(OpenFileSystem(temp.game())->CopyFile({"season02", "tracks", "season.trk"}, {"ZENTOSEASON", "tracks"},
                                                    Replace::kNo));
  const DWORD copied = GetFileAttributesW(temp.At("ZENTOSEASON/tracks/season.trk").c_str());
  SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(temp.At("ZENTOSEASON/tracks/season.trk").c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(copied, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(copied & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(copied & (FILE_ATTRIBUTE_OFFLINE | kPinned | kRecallOnDataAccess), 0u);
}

// Helpers that end with their command must leave nothing behind that their
// thread's end frees twice: started and ended a hundred times over, as a
// player's repeated copies would, the process lives on.
TEST(Win32FileSystemTest, CopyHelpersStartedAndEndedManyTimesLeaveTheProcessWhole) {
  TempGame temp;
  for (int i = 0; i < 40; ++i) temp.Write("season02/tracks/pits/pit" + std::to_string(i), std::string(5000, 'p'));
  temp.MakeFolder("ZENTOSEASON/tracks");
  for (int round = 0; round < 100; ++round) {
    auto file_system = OpenFileSystem(temp.game());
    CopyFolderReplacing(*file_system, {"season02", "tracks", "pits"}, {"ZENTOSEASON", "tracks", "Pits"});
    ASSERT_TRUE(file_system->Settle().empty()) << "round " << round;
  }
  EXPECT_EQ(temp.Names("ZENTOSEASON/tracks/Pits").size(), 40u);
}

// A copy named before its data is on the disk could be left full of zeros
// by a power cut, and "Copy files" never replaces it: every copy's rename
// comes after a flush of that very file, on whichever thread wrote it.
// Every copy's rename comes after a full flush (one that reaches the
// drive's cache: FlushFileBuffers, since Windows 8) issued after that copy's
// data was written out. Where Windows can write a file's data out alone
// (NtFlushBuffersFileEx), copies wait in batches for one full flush, at
// most one per thousand copies and one for the rest; where it cannot (Windows
// 7, Wine 8), each copy is flushed whole before its name.
TEST(Win32FileSystemTest, NoCopyIsNamedBeforeAFullFlushIssuedAfterItsDataWasWrittenOut) {
  for (const bool data_only : {false, true}) {
    const int copies = data_only ? 2100 : 100;
    TempGame temp;
    for (int i = 0; i < copies; ++i) temp.Write("season02/tracks/Monaco/part" + std::to_string(i), "data");
    temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
    static std::mutex mutex;
    static std::map<HANDLE, long> written_out;  // the step at which each open copy's data went out
    static long step, last_full_flush, named, named_unflushed, full_flushes;
    written_out.clear();
    step = last_full_flush = named = named_unflushed = full_flushes = 0;
    static bool data_only_there;
    data_only_there = data_only;
    testing::Injected injected(CurrentWin32Calls());
    injected.calls().flush_data_only = [](HANDLE file) -> BOOL {
      if (!data_only_there) return FALSE;  // as on Windows 7
      std::lock_guard lock(mutex);
      written_out[file] = ++step;
      return TRUE;
    };
    injected.calls().flush_file = [](HANDLE file) {
      const BOOL ok = FlushFileBuffers(file);
      std::lock_guard lock(mutex);
      ++full_flushes;
      last_full_flush = ++step;
      if (!data_only_there) written_out[file] = step - 1;  // a whole flush writes its own data out too
      return ok;
    };
    injected.calls().rename_file = [](HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace) {
      {
        std::lock_guard lock(mutex);
        ++named;
        const auto out = written_out.find(file);
        named_unflushed += out == written_out.end() || last_full_flush <= out->second;
        if (out != written_out.end()) written_out.erase(out);  // the handle's value may come again
      }
      return RenameIntoFolder(file, folder, name, replace);
    };
    {
      auto file_system = OpenFileSystem(temp.game());
      for (int i = 0; i < copies; ++i)
        file_system->CopyFile({"season02", "tracks", "Monaco", "part" + std::to_string(i)},
                              {"ZENTOSEASON", "tracks", "Monaco"}, Replace::kNo);
      EXPECT_TRUE(file_system->Settle().empty());
    }
    EXPECT_EQ(named, copies);
    EXPECT_EQ(named_unflushed, 0) << (data_only ? "in batches" : "each alone");
    EXPECT_EQ(full_flushes, data_only ? copies / 1000 + 1 : copies);
    EXPECT_EQ(temp.Names("ZENTOSEASON/tracks/Monaco").size(), std::size_t(copies));
  }
}

// A copy whose rename fails once it is written (the disk made read-only
// meanwhile) is told with its own path, whether it was named at once (Windows
// 7, Wine 8) or from a batch; nothing of it is left.
TEST(Win32FileSystemTest, ACopyThatCannotBeNamedIsToldWithItsPathWhetherNamedAtOnceOrFromABatch) {
  for (const bool data_only : {false, true}) {
    TempGame temp;
    temp.Write("season02/tracks/Monaco/Monaco.gdb", "track");
    temp.MakeFolder("ZENTOSEASON/tracks/Monaco");
    static bool data_only_there;
    data_only_there = data_only;
    testing::Injected injected(CurrentWin32Calls());
    injected.calls().flush_data_only = [](HANDLE) -> BOOL { return data_only_there; };
    injected.calls().rename_file = [](HANDLE, HANDLE, const wchar_t*, BOOL) -> BOOL {
      SetLastError(ERROR_WRITE_PROTECT);
      return FALSE;
    };
    std::vector<Failure> failures;
    {
      auto file_system = OpenFileSystem(temp.game());
      EXPECT_TRUE(file_system->CopyFile({"season02", "tracks", "Monaco", "Monaco.gdb"},
                                        {"ZENTOSEASON", "tracks", "Monaco"}, Replace::kNo));
      failures = file_system->Settle();
    }
    ASSERT_EQ(failures.size(), 1u) << (data_only ? "from a batch" : "at once");
    EXPECT_EQ(failures[0].path, (GamePath{"ZENTOSEASON", "tracks", "Monaco", "Monaco.gdb"}));
    EXPECT_EQ(failures[0].cause, Cause::kReadOnlyDisk);
    EXPECT_TRUE(temp.Names("ZENTOSEASON/tracks/Monaco").empty());
  }
}

// Does a POSIX rename the test lets through as the older rename: on i686
// both layouts put the root folder, the name's length and the name at the
// same places, and replace-if-exists is the first flag.
LONG SetRenameAsOld(HANDLE file, void* info, ULONG length) {
  auto* flags = static_cast<ULONG*>(info);
  const BOOLEAN replace = (*flags & 0x1) != 0;
  *flags = 0;
  *reinterpret_cast<BOOLEAN*>(info) = replace;
  return SetInformation(file, info, length, 10);
}

// A model of Windows' file virtualization, which Wine lacks: a folder that
// stands for Program Files (x86) holding the game, one for
// %LOCALAPPDATA%, a standard user who may not create files below the
// first, and a program whose own virtualization is on and can, or cannot,
// be turned off.
struct VirtualizedGame {
  explicit VirtualizedGame(bool can_turn_off) {
    static std::wstring program_files, local;
    program_files = temp.At("Program Files (x86)").wstring();
    local = temp.At("Local").wstring();
    temp.MakeFolder("Local");
    static bool turns_off;
    turns_off = can_turn_off;
    Win32Calls& calls = injected.calls();
    calls.virtualized_roots = [] { return std::vector<std::wstring>{program_files}; };
    calls.local_app_data = [] { return local; };
    calls.own_virtualization = [] { return 1; };
    calls.turn_off_own_virtualization = [] { return turns_off; };
    calls.virtualization_policy = [] { return true; };
    calls.may_create_in = [](const std::wstring&) { return false; };
    calls.runs_elevated = [](const std::wstring&) { return false; };
  }
  GameFolder game() const { return GameFolder(temp.At("Program Files (x86)/Game").string()); }
  // "Copy files" through `file_system`, with lists of its own.
  CopyOutcome CopyFiles(FileSystem& file_system) const {
    const GameFolder folder = game();  // the listings keep it
    StringList not_copy, dirs, dirs2;
    FolderListing dir1(folder);
    FileListing file1(folder);
    return CopySeasonFiles(folder, file_system, {not_copy, dirs, dirs2, dir1, file1});
  }
  // Every file below `folder` with its content, by path.
  std::map<std::string, std::string> Files(const std::string& folder) const {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(temp.At(folder), error))
      if (entry.is_regular_file())
        files[std::filesystem::relative(entry.path(), temp.At(folder)).generic_string()] =
            temp.Read(std::filesystem::relative(entry.path(), temp.root()).generic_string());
    return files;
  }

  TempGame temp;
  testing::Injected<Win32Calls> injected{CurrentWin32Calls()};
};

void MakeInstalledGame(VirtualizedGame& v) {
  v.temp.Write("Program Files (x86)/Game/season02/tracks/Monaco/Monaco.gdb", "geometry");
  v.temp.Write("Program Files (x86)/Game/season02/tracks/season.trk", "list");
  v.temp.Write("Program Files (x86)/Game/season02/tracks/pits/ORDER.PIT", "order");
  v.temp.MakeFolder("Program Files (x86)/Game/ZENTOSEASON/tracks/Monaco");
  v.temp.Write("Program Files (x86)/Game/ZENTOSEASON/tracks/season.trk", "installed");
  v.temp.Write("Program Files (x86)/Game/Config.ini", "SaveDir=as installed\r\n");
  v.temp.Write("Program Files (x86)/Game/Qorvane.ini", "as installed");
}

// Below Program Files, as a standard user, the game reads the store's copy
// of a file first and the real one else, and its writes land in the store:
// the utility works on that view, never writing into the real folder.
TEST(Win32VirtualStoreTest, BelowProgramFilesTheGamesViewIsWrittenIntoTheStoreAndTheRealFolderStaysAsItWas) {
  VirtualizedGame v(/*can_turn_off=*/true);
  MakeInstalledGame(v);
  const std::string store = "Local/VirtualStore" + v.game().Root().substr(v.game().Root().find(':') + 1);
  std::string store_path = store;
  std::replace(store_path.begin(), store_path.end(), '\\', '/');
  v.temp.Write(store_path + "/Config.ini", "SaveDir=changed in the game\r\n");  // a setting the player changed
  v.temp.Write(store_path + "/Qorvane.ini", "stale");
  const auto real_before = v.Files("Program Files (x86)");
  auto file_system = OpenFileSystem(v.game());
  EXPECT_EQ(file_system->ReadFile({"Config.ini"}), "SaveDir=changed in the game\r\n");
  EXPECT_TRUE(file_system->WriteFile({"Qorvane.ini"}, "new"));
  const CopyOutcome outcome = v.CopyFiles(*file_system);
  file_system.reset();
  EXPECT_TRUE(outcome.failures.empty());
  EXPECT_EQ(outcome.already_there, 1u) << "season.trk is there, in the real folder";
  EXPECT_EQ(v.Files("Program Files (x86)"), real_before) << "the real folder was written into";
  EXPECT_EQ(v.Files(store_path), (std::map<std::string, std::string>{
                                     {"Config.ini", "SaveDir=changed in the game\r\n"},
                                     {"Qorvane.ini", "new"},
                                     {"ZENTOSEASON/tracks/Monaco/Monaco.gdb", "geometry"},
                                     {"ZENTOSEASON/tracks/Pits/ORDER.PIT", "order"}}));
}

TEST(Win32VirtualStoreTest, WhereItsOwnVirtualizationCannotBeTurnedOffNothingIsWrittenAnywhere) {
  VirtualizedGame v(/*can_turn_off=*/false);
  MakeInstalledGame(v);
  const auto before = v.Files("");
  auto file_system = OpenFileSystem(v.game());
  EXPECT_EQ(file_system->WriteFile({"Qorvane.ini"}, "new").cause, Cause::kNotAllowed);
  const CopyOutcome outcome = v.CopyFiles(*file_system);
  file_system.reset();
  ASSERT_FALSE(outcome.failures.empty());
  for (const Failure& failure : outcome.failures) EXPECT_EQ(failure.cause, Cause::kNotAllowed);
  EXPECT_EQ(v.Files(""), before);
}

// The POSIX rename (FileRenameInformationEx, MS-FSCC 2.4.42.2) is asked
// only of a volume that says it has it (FILE_SUPPORTS_POSIX_UNLINK_RENAME)
// or cannot say; its read-only flag, unknown before Windows 10 1809, is
// dropped when refused as a parameter; and any answer but a refusal or a
// file held leaves the older rename to do it: error 1 as git and Rust met
// it on 1607 and Server 2016 (STATUS_INVALID_DEVICE_REQUEST,
// STATUS_ILLEGAL_FUNCTION), exFAT's 87, ReFS's 50. Wine answers as it does:
// the seam gives the answers of those systems.
TEST(Win32RenameTest, ThePosixRenameFallsBackToTheOlderOneOnEverySystemButARefusalOrAHold) {
  constexpr LONG kOk = 0, kInvalidParameter = LONG(0xC000000D), kInvalidDeviceRequest = LONG(0xC0000010),
                 kIllegalFunction = LONG(0xC00000AF), kNotSupported = LONG(0xC00000BB),
                 kSharingViolation = LONG(0xC0000043);
  constexpr int kEx = 65, kOld = 10;  // FileRenameInformationEx, FileRenameInformation
  struct Case {
    std::optional<DWORD> volume;
    std::vector<LONG> posix_answers;
    std::vector<std::pair<int, ULONG>> expected_calls;  // class, and the POSIX flags
    bool renamed;
  };
  const std::vector<Case> cases = {
      {DWORD(0), {}, {{kOld, 0}}, true},                                       // FAT, exFAT: never asked
      {DWORD(0x400), {kOk}, {{kEx, 0x43}}, true},                              // 1809 and on
      {std::nullopt, {kInvalidParameter, kOk}, {{kEx, 0x43}, {kEx, 0x3}}, true},  // 1607 to 1803
      {DWORD(0x400), {kInvalidParameter, kInvalidParameter}, {{kEx, 0x43}, {kEx, 0x3}, {kOld, 0}}, true},
      {DWORD(0x400), {kInvalidDeviceRequest}, {{kEx, 0x43}, {kOld, 0}}, true},
      {DWORD(0x400), {kIllegalFunction}, {{kEx, 0x43}, {kOld, 0}}, true},
      {DWORD(0x400), {kNotSupported}, {{kEx, 0x43}, {kOld, 0}}, true},
      {DWORD(0x400), {kSharingViolation}, {{kEx, 0x43}}, false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    TempGame temp;
    temp.Write("copy.tmp", "new");
    temp.Write("pits.mas", "old");
    testing::Injected injected(CurrentWin32Calls());
    std::vector<std::pair<int, ULONG>> calls;
    std::size_t answered = 0;
    injected.calls().volume_flags = [&](HANDLE) { return c.volume; };
    injected.calls().set_information = [&](HANDLE file, void* info, ULONG length, int kind) -> LONG {
      calls.emplace_back(kind, kind == kEx ? *static_cast<ULONG*>(info) : 0);
      if (kind == kOld) return SetInformation(file, info, length, kind);
      return answered < c.posix_answers.size() && c.posix_answers[answered] != kOk
                 ? c.posix_answers[answered++]
                 : (++answered, SetRenameAsOld(file, info, length));
    };
    const HANDLE folder = CreateFileW(temp.root().wstring().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const HANDLE file = CreateFileW(temp.At("copy.tmp").wstring().c_str(), DELETE | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    const BOOL done = RenameIntoFolder(file, folder, L"pits.mas", TRUE);
    const DWORD error = GetLastError();
    CloseHandle(file);
    CloseHandle(folder);
    EXPECT_EQ(bool(done), c.renamed) << "case " << i;
    EXPECT_EQ(calls, c.expected_calls) << "case " << i;
    EXPECT_EQ(temp.Read("pits.mas"), c.renamed ? "new" : "old") << "case " << i;
    if (!c.renamed) {
      EXPECT_EQ(error, DWORD(ERROR_SHARING_VIOLATION)) << "case " << i;
    }
  }
}

// The game reads the store's copy first whatever the real folder allows
// (Windows Internals 6th ed., part 1, ch. 6; "User Account Control for game
// developers"): a folder whose permissions the player widened is still the
// store's for a virtualized game, and the game is virtualized exactly when
// the utility, also an unmanifested 32-bit program of the player's, was as
// it started. One run as administrator, not virtualized, starts the game
// elevated too: it sees the real folder.
TEST(Win32VirtualStoreTest, TheGamesViewFollowsTheUtilitysOwnVirtualizationNotWhatTheFolderAllows) {
  for (const bool virtualized : {true, false}) {
    VirtualizedGame v(/*can_turn_off=*/true);
    MakeInstalledGame(v);
    v.injected.calls().own_virtualization = [virtualized] { return virtualized ? 1 : 0; };
    v.injected.calls().may_create_in = [virtualized](const std::wstring&) { return virtualized; };
    const std::string store = "Local/VirtualStore/" +
                              std::filesystem::relative(v.temp.At("Program Files (x86)/Game"),
                                                        v.temp.root().root_path()).generic_string();
    const FileResult written = OpenFileSystem(v.game())->WriteFile({"Qorvane.ini"}, "new");
    EXPECT_TRUE(written) << int(written.cause);
    EXPECT_EQ(v.temp.Read(virtualized ? store + "/Qorvane.ini" : "Program Files (x86)/Game/Qorvane.ini"), "new")
        << (virtualized ? "a virtualized game reads the store" : "an elevated one the real folder");
    EXPECT_EQ(v.temp.Exists(store + "/Qorvane.ini"), virtualized);
  }
}

// With User Account Control off (EnableLUA 0) nothing is virtualized
// ("User Account Control Group Policy and registry key settings").
TEST(Win32VirtualStoreTest, WithUserAccountControlOffNothingIsVirtualized) {
  const wchar_t* policies = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, policies, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
  const DWORD off = 0;
  RegSetValueExW(key, L"EnableLUA", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), sizeof off);
  EXPECT_FALSE(VirtualizationPolicy());
  RegDeleteValueW(key, L"EnableLUA");
  EXPECT_TRUE(VirtualizationPolicy());
  RegCloseKey(key);
}

// "Run this program as an administrator" for all users is kept in the
// machine's 64-bit view, which a 32-bit program reads only when it asks
// ("Registry Keys Affected by WOW64"); either view, or the user's, counts.
TEST(Win32VirtualStoreTest, ARunAsAdministratorLayerIsFoundInEitherRegistryViewOfTheMachineOrTheUsers) {
  testing::Injected injected(CurrentWin32Calls());
  for (const auto& [root, view] : std::vector<std::pair<HKEY, REGSAM>>{
           {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}, {HKEY_CURRENT_USER, 0}}) {
    injected.calls().compat_layers = [root, view](HKEY asked_root, REGSAM asked_view, const std::wstring&) {
      return asked_root == root && asked_view == view ? L"~ RUNASADMIN WINXPSP3" : L"";
    };
    EXPECT_TRUE(RunsElevated(L"C:\\Games\\Dromvik\\Dromvik.exe")) << "view " << view;
  }
  injected.calls().compat_layers = [](HKEY, REGSAM, const std::wstring&) { return std::wstring(L"~ WINXPSP3"); };
  EXPECT_FALSE(RunsElevated(L"C:\\Games\\Dromvik\\Dromvik.exe"));
}

// A folder made case-sensitive (fsutil file setCaseSensitiveInfo, as WSL
// does) finds a name only in its own spelling: there names are found by
// listing, ignoring letter case as everywhere else. Wine cannot make such a
// folder; the seam says every folder is one.
TEST(Win32FileSystemTest, InFoldersMadeCaseSensitiveNamesAreFoundByListingInAnyLetterCase) {
  TempGame temp;
  temp.Write("Config.ini", "SaveDir=x\r\n");
  temp.Write("season02/tracks/Monaco/Monaco.gdb", "geometry");
  temp.MakeFolder("ZENTOSEASON/tracks/monaco");
  testing::Injected injected(CurrentWin32Calls());
  injected.calls().case_sensitive = [](const std::wstring&) { return true; };
  auto file_system = OpenFileSystem(temp.game());
  const std::optional<std::string> config = file_system->NativePath({"CONFIG.INI"});
  ASSERT_TRUE(config);
  EXPECT_EQ(config->substr(config->size() - 11), "\\Config.ini");
  EXPECT_EQ(file_system->ReadFile({"config.ini"}), "SaveDir=x\r\n");
  EXPECT_TRUE(file_system->CopyFile({"SEASON02", "TRACKS", "MONACO", "monaco.GDB"}, {"ZENTOSEASON", "TRACKS", "MONACO"},
                                    Replace::kNo));
  EXPECT_TRUE(file_system->Settle().empty());
  file_system.reset();
  EXPECT_EQ(temp.Names("ZENTOSEASON/tracks/monaco"), std::vector<std::string>{"monaco.GDB"});
  EXPECT_EQ(temp.Read("ZENTOSEASON/tracks/monaco/monaco.GDB"), "geometry");
  // The add-on's configuration is written under the name the game opens,
  // not into an older Qorvane.ini beside it, which is told. Wine's disk
  // ignores case, so the rename tells the name the file was given.
  temp.Write("Qorvane.ini", "older");
  std::vector<std::wstring> named;
  injected.calls().rename_file = [&](HANDLE file, HANDLE folder, const wchar_t* name, BOOL replace) {
    named.push_back(name);
    return RenameIntoFolder(file, folder, name, replace);
  };
  StringList new_ini;
  const IniOutcome outcome = CreateConfigIni(*OpenFileSystem(temp.game()), new_ini);
  EXPECT_EQ(outcome.result, IniOutcome::Result::kWritten);
  EXPECT_EQ(outcome.name, "Qorvane.INI");
  EXPECT_EQ(outcome.other_spelling, "Qorvane.ini");
  EXPECT_FALSE(outcome.replacing);
  EXPECT_EQ(named, std::vector<std::wstring>{L"Qorvane.INI"});
}

// A cloud file its provider could not bring is told as unreadable; the
// numbers of other families among and beside them are not (winerror.h).
TEST(Win32StatusTest, OnlyCloudFileErrorsAreToldAsAFileThatCouldNotBeBrought) {
  for (const DWORD cloud : {358, 362, 383, 398, 404, 426, 434, 475})
    EXPECT_EQ(CauseOfError(cloud), Cause::kUnreadable) << cloud;
  for (const DWORD other : {359, 368, 376, 384, 400, 403, 405})
    EXPECT_EQ(CauseOfError(other), Cause::kOther) << other;
}

TEST(Win32PathTest, LongAbsolutePathsGetTheExtendedLengthPrefix) {
  const std::wstring name(250, L'a');
  EXPECT_EQ(ExtendedLengthPath(L"C:\\Games\\x"), L"C:\\Games\\x");
  EXPECT_EQ(ExtendedLengthPath(L"C:\\" + name), L"\\\\?\\C:\\" + name);
  EXPECT_EQ(ExtendedLengthPath(L"C:/Games/" + name), L"\\\\?\\C:\\Games\\" + name);
  EXPECT_EQ(ExtendedLengthPath(L"\\\\server\\share\\" + name), L"\\\\?\\UNC\\server\\share\\" + name);
  EXPECT_EQ(ExtendedLengthPath(L"\\\\?\\C:\\" + name), L"\\\\?\\C:\\" + name);
  EXPECT_EQ(ExtendedLengthPath(L"relative\\" + name), L"relative\\" + name);
}

TEST(Win32TextTest, NamesThatAreNotValidUtf16AreRefusedNotFatal) {
  const std::wstring lone_surrogate = L"bad\xD800name.dat";
  EXPECT_EQ(NarrowExactly(lone_surrogate), std::nullopt);
  EXPECT_FALSE(Narrow(lone_surrogate).empty());
  EXPECT_EQ(NarrowExactly(L"Zolder.dat"), "Zolder.dat");
}

TEST(Win32TextTest, ACopyPassesOverANameThatIsNotValidUtf16) {
  const std::wstring lone_surrogate = L"bad\xD800name.dat";
  TempGame temp;
  temp.Write("season02/tracks/season.trk", "list");
  temp.MakeFolder("ZENTOSEASON/tracks");
  const HANDLE odd = CreateFileW((temp.At("season02/tracks").wstring() + L"\\" + lone_surrogate).c_str(),
                                 GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (odd == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this file system refuses names that are not valid UTF-16";
  CloseHandle(odd);
  StringList not_copy, dirs, dirs2;
  FolderListing dir1(temp.game());
  FileListing file1(temp.game());
  CopySeasonFiles(temp.game(), *OpenFileSystem(temp.game()), {not_copy, dirs, dirs2, dir1, file1});
  EXPECT_EQ(temp.Names("ZENTOSEASON/tracks"), std::vector<std::string>{"season.trk"});
}

}  // namespace
}  // namespace velmora

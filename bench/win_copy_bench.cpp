// Times "Copy files" of velmora.exe's core against the copies a Windows user
// has at hand, on synthetic game folders of three shapes: the realistic set
// (17 circuit folders of 300 files, 1 KB to 4 MB, and a pits tree of 500
// files), 20,000 files of 1 KB to 16 KB in 20 folders, and 5,000 small files
// in one folder. The references copy the same files into an empty tree of
// the same shape: a plain CopyFileW loop doing the same work (never
// replacing a track file, replacing the pits), and xcopy (which copies the
// few skip-listed files too). Every copy runs in a process of its own, in
// turn, each going first in one trial; medians of the trials. Also: the
// Win32Calls made per file, the peak working set, repeat copies, a copy
// without the flush of each copy before its name (which velmora.exe makes),
// and the start-up time to a shown window against a minimal Win32 window.
//
// Usage: win_copy_bench [WORK_FOLDER [SHAPE [TRIALS]]]   (default:
// .\win-copy-bench, removed afterwards; SHAPE: realistic, many or
// one-folder, else all three; TRIALS: 7). Runs on Windows and under Wine.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/commands.h"
#include "bench/spread.h"
#include "copier/copy_plan.h"
#include "platform/win32/calls.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

struct Shape {
  const char* name;
  int folders;
  int files_per_folder;
  std::size_t max_size;
  int pits_files;
};

constexpr Shape kShapes[] = {
    {"realistic", 17, 300, 4 << 20, 500},
    {"many", 20, 1000, 16 << 10, 0},
    {"one-folder", 1, 5000, 16 << 10, 0},
};

// A size from 1 KB to `max_size`: mostly small, one in ten large.
std::size_t FileSize(std::mt19937_64& random, std::size_t max_size) {
  std::uniform_real_distribution<double> unit(0, 1);
  const bool large = max_size > 256e3 && random() % 10 == 0;
  const double low = large ? 256e3 : 1e3, high = large ? double(max_size) : std::min(256e3, double(max_size));
  return std::size_t(low * std::pow(high / low, unit(random)));
}

void WriteFile(const fs::path& path, std::size_t size, std::mt19937_64& random) {
  static const std::vector<char> data = [] {
    std::vector<char> bytes(4 << 20);
    std::mt19937_64 fill(7);
    for (char& c : bytes) c = char(fill());
    return bytes;
  }();
  std::ofstream out(path, std::ios::binary);
  const std::size_t offset = random() % 4096;
  const std::size_t first = std::min(size, data.size() - offset);
  out.write(data.data() + offset, std::streamsize(first));
  if (size > first) out.write(data.data(), std::streamsize(size - first));
}

// The game's track folders with their files, a few skip-listed and ".AIW"
// files in each, and the pits tree three levels deep; returns the files.
int MakeGame(const fs::path& game, const Shape& shape) {
  std::mt19937_64 random(42);
  const fs::path tracks = game / "season02" / "tracks";
  int files = 0;
  for (int f = 0; f < shape.folders; ++f) {
    const fs::path folder = tracks / ("Circuit" + std::to_string(f));
    fs::create_directories(folder);
    for (int i = 0; i < shape.files_per_folder; ++i, ++files)
      WriteFile(folder / ("part" + std::to_string(i) + ".dat"), FileSize(random, shape.max_size), random);
    WriteFile(folder / "line.AIW", 1000, random);
  }
  for (int i = 0; i < shape.pits_files; ++i, ++files) {
    const fs::path folder = tracks / "pits" / ("crew" + std::to_string(i % 5)) / ("bay" + std::to_string(i % 3));
    fs::create_directories(folder);
    WriteFile(folder / ("pit" + std::to_string(i) + ".dat"), FileSize(random, 64 << 10), random);
  }
  return files;
}

// Each copier's target: a season folder with the circuit folders, empty.
void MakeEmptyTarget(const fs::path& season, const Shape& shape) {
  std::error_code ignored;
  fs::remove_all(season, ignored);
  for (int f = 0; f < shape.folders; ++f)
    fs::create_directories(season / "tracks" / ("Circuit" + std::to_string(f)));
}

// --- the copies, each run in a child process -----------------------------

// "Copy files" as velmora.exe runs it; prints the Win32Calls it made.
int RunVelmora(const fs::path& game, bool flush_each = true) {
  long calls = 0;
  Win32Calls& seam = CurrentWin32Calls();
  auto count = [&calls](auto& call) {
    call = [&calls, inner = call](auto... arguments) {
      ++calls;
      return inner(arguments...);
    };
  };
  count(seam.get_attributes);
  count(seam.get_reparse_tag);
  count(seam.get_handle_reparse_tag);
  count(seam.rename_file);
  seam.listed = [&calls](WIN32_FIND_DATAW&) { ++calls; };
  seam.flush_each_copy = flush_each;
  // Full flushes, which reach the drive's cache: one per copy where Windows
  // cannot write a file's data out alone, else one per batch.
  std::atomic<long> full_flushes{0};
  seam.flush_file = [&full_flushes, inner = seam.flush_file](HANDLE file) {
    ++full_flushes;
    return inner(file);
  };
  const GameFolder folder(game.string());
  WorkLists lists(folder);
  RunCopyFiles(folder, OpenFileSystem, lists);
  PROCESS_MEMORY_COUNTERS memory{};
  K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("%ld %.1f %ld\n", calls, double(memory.PeakWorkingSetSize) / (1 << 20), full_flushes.load());
  return 0;
}

void LoopPits(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      LoopPits(from + L"\\" + name, to + L"\\" + name);
    } else {
      const std::wstring target = to + L"\\" + name;
      const DWORD attributes = GetFileAttributesW(target.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      CopyFileW((from + L"\\" + name).c_str(), target.c_str(), FALSE);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// The same work with CopyFileW: each circuit's files but the left-out ones,
// never replacing; then the pits tree, replacing.
int RunLoop(const fs::path& game, const fs::path& season) {
  StringList not_copy;
  AddSkipNames(not_copy);
  const LeftOutNames left_out(not_copy);
  const fs::path tracks = game / "season02" / "tracks";
  for (const auto& folder : fs::directory_iterator(tracks)) {
    if (!folder.is_directory() || folder.path().filename() == "pits") continue;
    WIN32_FIND_DATAW found;
    const std::wstring from = folder.path().wstring();
    const std::wstring to = (season / "tracks" / folder.path().filename()).wstring();
    const HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::wstring name = found.cFileName;
      if (left_out.Has(fs::path(name).string())) continue;
      CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  LoopPits((tracks / "pits").wstring(), (season / "tracks" / "Pits").wstring());
  return 0;
}

struct Measure {
  double seconds = 0;
  std::string output;
};

// Runs `command_line` and waits for it: its time and output.
Measure RunProcess(std::wstring command_line, const fs::path& folder = {}) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  CreatePipe(&read_end, &write_end, &inherit, 0);
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  const auto start = std::chrono::steady_clock::now();
  const std::wstring in = folder.empty() ? std::wstring() : folder.wstring();
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      in.empty() ? nullptr : in.c_str(), &startup, &process)) {
    std::fprintf(stderr, "cannot start a copy (error %lu)\n", GetLastError());
    std::exit(1);
  }
  CloseHandle(write_end);
  Measure measure;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) measure.output.append(buffer, got);
  WaitForSingleObject(process.hProcess, INFINITE);
  measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(read_end);
  return measure;
}

std::wstring Self() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring Quoted(const fs::path& path) { return L"\"" + path.wstring() + L"\""; }

Measure Velmora(const fs::path& game, bool flush_each = true) {
  return RunProcess(Quoted(Self()) + L" --velmora " + Quoted(game) + (flush_each ? L"" : L" --no-flush"));
}
Measure Loop(const fs::path& game, const fs::path& season) {
  return RunProcess(Quoted(Self()) + L" --loop " + Quoted(game) + L" " + Quoted(season));
}
// xcopy of each circuit folder's files, then of the pits tree.
Measure Xcopy(const fs::path& game, const fs::path& season, const Shape& shape) {
  std::wstring script;
  for (int f = 0; f < shape.folders; ++f) {
    const std::wstring circuit = L"Circuit" + std::to_wstring(f);
    script += L"xcopy " + Quoted(game / "season02" / "tracks" / circuit / "*") + L" " +
              Quoted(season / "tracks" / circuit / "") + L" /Q /Y /K >NUL & ";
  }
  script += L"xcopy " + Quoted(game / "season02" / "tracks" / "pits") + L" " + Quoted(season / "tracks" / "Pits") +
            L" /E /I /Q /Y /K >NUL";
  return RunProcess(L"cmd /c \"" + script + L"\"");
}


struct WindowSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK TakeWindowOf(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// The visible top-level window of a process, if it has one yet.
HWND WindowOf(DWORD process) {
  WindowSearch search{process, nullptr};
  EnumWindows(TakeWindowOf, LPARAM(&search));
  return search.found;
}

// From start to a window that is shown and answers: its thread has taken a
// message sent once it was visible.
double StartUp(std::wstring command_line, const fs::path& folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const std::wstring in = folder.wstring();
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, in.c_str(), &startup,
                      &process))
    return -1;
  // Without a display (Wine with no X server) no window comes: then no time.
  HWND window = nullptr;
  for (int waited = 0; waited < 10000 && !(window = WindowOf(process.dwProcessId)); ++waited)
    if (WaitForSingleObject(process.hProcess, 1) != WAIT_TIMEOUT) break;
  DWORD_PTR ignored = 0;
  if (window) SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 30000, &ignored);
  const double seconds =
      window ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() : -1;
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return seconds;
}

void MeasureShape(const fs::path& work, const Shape& shape, int trials) {
  const fs::path game = work / "game";
  std::error_code ignored;
  fs::remove_all(work, ignored);
  const int files = MakeGame(game, shape);
  const fs::path ours = game / "ZENTOSEASON", loop = work / "loop" / "ZENTOSEASON",
                 xcopy = work / "xcopy" / "ZENTOSEASON";
  std::vector<double> t_ours, t_loop, t_xcopy, t_flush, r_ours, r_loop;
  double peak = 0, calls = 0, flushes = 0;
  for (int trial = 0; trial < trials; ++trial) {
    for (const fs::path& season : {ours, loop, xcopy}) MakeEmptyTarget(season, shape);
    for (int turn = 0; turn < 3; ++turn) {
      switch ((trial + turn) % 3) {
        case 0: {
          const Measure m = Velmora(game);
          t_ours.push_back(m.seconds);
          long made = 0, full = 0;
          double peak_mb = 0;
          std::sscanf(m.output.c_str(), "%ld %lf %ld", &made, &peak_mb, &full);
          peak = std::max(peak, peak_mb);
          calls = double(made) / files;
          flushes = double(full) / files;
          break;
        }
        case 1:
          t_loop.push_back(Loop(game, loop).seconds);
          break;
        case 2:
          t_xcopy.push_back(Xcopy(game, xcopy, shape).seconds);
          break;
      }
    }
    // Again with everything there: only the pits are copied.
    const bool ours_first = trial % 2 == 0;
    const double a = ours_first ? Velmora(game).seconds : Loop(game, loop).seconds;
    const double b = ours_first ? Loop(game, loop).seconds : Velmora(game).seconds;
    r_ours.push_back(ours_first ? a : b);
    r_loop.push_back(ours_first ? b : a);
    // A first copy without the flush of each copy before it gets its name.
    MakeEmptyTarget(ours, shape);
    t_flush.push_back(Velmora(game, false).seconds);
  }
  const double o = Median(t_ours), l = Median(t_loop), x = Median(t_xcopy);
  std::printf("%s: %d files; times are medians, ratios median (least-most), of %d trials\n", shape.name, files,
              trials);
  std::printf("  first copy:  velmora %.2f s, CopyFileW loop %.2f s, xcopy %.2f s; ratio %s to the loop, %s to xcopy\n",
              o, l, x, Told(SpreadOf(Ratios(t_ours, t_loop))).c_str(), Told(SpreadOf(Ratios(t_ours, t_xcopy))).c_str());
  std::printf("  without the flush of each copy before its name: %.2f s, %s to the loop\n", Median(t_flush),
              Told(SpreadOf(Ratios(t_flush, t_loop))).c_str());
  std::printf("  repeat copy: velmora %.2f s, CopyFileW loop %.2f s, ratio %s\n", Median(r_ours), Median(r_loop),
              Told(SpreadOf(Ratios(r_ours, r_loop))).c_str());
  std::printf("  Win32Calls per file: %.1f; full flushes per file: %.3f; peak working set %.1f MB\n", calls,
              flushes, peak);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--velmora") == 0)
    return RunVelmora(argv[2], !(argc > 3 && std::strcmp(argv[3], "--no-flush") == 0));
  if (argc >= 4 && std::strcmp(argv[1], "--loop") == 0) return RunLoop(argv[2], argv[3]);
  if (argc >= 2 && std::strcmp(argv[1], "--minimal-window") == 0) {
    const HWND window = CreateWindowExW(0, L"STATIC", L"minimal", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 250,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) return 1;
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
  }
  const fs::path work = fs::absolute(argc > 1 ? argv[1] : "win-copy-bench");
  const std::string only = argc > 2 ? argv[2] : "";
  const int trials = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
  for (const Shape& shape : kShapes)
    if (only.empty() || only == shape.name) MeasureShape(work, shape, trials);

  // velmora.exe beside this program, started in a game folder.
  const fs::path velmora = fs::path(Self()).parent_path() / "velmora.exe";
  if (fs::exists(velmora) && fs::exists(work / "game")) {
    std::vector<double> ours, minimal;
    for (int trial = 0; trial < trials; ++trial) {
      ours.push_back(StartUp(Quoted(velmora), work / "game"));
      minimal.push_back(StartUp(Quoted(Self()) + L" --minimal-window", work));
    }
    if (Median(ours) > 0 && Median(minimal) > 0)
      std::printf("start-up to a shown window: velmora.exe %.3f s, a minimal Win32 window %.3f s, ratio %.2f\n",
                  Median(ours), Median(minimal), Median(ours) / Median(minimal));
    else
      std::printf("start-up: no window could be shown (no display)\n");
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
}

// Times "Copy files" against GNU cp on synthetic game folders of three
// shapes: the realistic set (17 circuit folders of about 300 files each, 1 KB
// to 4 MB, about 1 GB in all), 50,000 small files (1 KB to 16 KB) in the same
// folders, and 20,000 small files in one folder. Each has skip-listed and
// ".AIW" files too, and a pits tree of 500 files three levels deep. The reference is cp copying the same files
// the copier copies into an empty tree of the same shape: `cp -rn` for the
// track files (nothing replaced) and `cp -r` for the pits tree (replaced),
// both keeping mode and times as the copier does; once followed by `sync`,
// the point at which cp's copy is as safe from a power cut as the copier's
// (which flushes each batch of files before naming them), and once without.
// The copier reports its progress as it does in the window. A repeat is
// measured twice: the first after a copy, which compares the pits files with
// their sources, and a later one, which finds them on record as exact.
//
// Each shape is measured with warm caches and cold (caches dropped before each
// run, as root), and, where root can make them, on btrfs and xfs loop files.
//
// Usage: copy_bench [WORK_FOLDER [SHAPE [ROUND]]]   (default: ./copy-bench,
// removed afterwards; ROUND: warm, cold, btrfs or xfs, else all four;
// SHAPE: realistic, many or one-folder, else all three; or
// "flush": syncfs against fdatasync on each file, with and without another
// program writing meanwhile; or "progress": the copier with its progress
// told and without, on the realistic and the many-files shape; or "memory
// [--files N]": the copier's peak memory copying 1,000 files and N (100,000
// unless told), spread over folders and in one)
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/commands.h"
#include "bench/bench_util.h"
#include "copier/copy_plan.h"
#include "copier/copy_run.h"
#include "platform/posix/calls.h"
#include "platform/testing/image_disk.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

constexpr const char* kCircuits[] = {"Australia", "Austria", "Belgium", "Brazil", "Canada", "Europe",
                                     "France", "Germany", "GreatBritain", "Hungary", "Italy", "Japan",
                                     "Malaysia", "Monaco", "SanMarino", "Spain", "UnitedStates"};

void WriteFile(const fs::path& path, std::size_t size, std::mt19937_64& random) {
  static std::vector<char> data = [] {
    std::vector<char> bytes(4 << 20);
    std::mt19937_64 fill(7);
    for (char& c : bytes) c = char(fill());
    return bytes;
  }();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::size_t offset = random() % 4096;
  const std::size_t first = std::min(size, data.size() - offset);
  if (fd < 0 || write(fd, data.data() + offset, first) != ssize_t(first) ||
      (size > first && write(fd, data.data(), size - first) != ssize_t(size - first))) {
    std::perror(path.c_str());
    std::exit(1);
  }
  close(fd);
}

// A size from 1 KB to 4 MB: mostly small, one in ten large.
std::size_t FileSize(std::mt19937_64& random, std::size_t max_size) {
  std::uniform_real_distribution<double> unit(0, 1);
  const bool large = max_size > 256e3 && random() % 10 == 0;
  const double low = large ? 256e3 : 1e3, high = large ? double(max_size) : std::min(256e3, double(max_size));
  return std::size_t(low * std::pow(high / low, unit(random)));
}

struct Shape {
  const char* name;
  int circuits;
  int files_per_circuit;
  std::size_t max_size;
  int Files() const { return circuits * files_per_circuit + 500; }
};

constexpr Shape kShapes[] = {
    {"realistic", 17, 300, 4 << 20},
    {"many", 17, 2912, 16 << 10},
    {"one-folder", 1, 19500, 16 << 10},
};

// Makes the game folder and, beside it, `cp-source`: hard links to exactly
// the files the copier copies, in the same shape.
std::uintmax_t MakeGame(const fs::path& work, const Shape& shape) {
  std::mt19937_64 random(42);
  std::uintmax_t bytes = 0;
  StringList skip;
  AddSkipNames(skip);
  const fs::path tracks = work / "game/season02/tracks", mirror = work / "cp-source/tracks";
  for (int c = 0; c < shape.circuits; ++c) {
    const char* circuit = kCircuits[c];
    fs::create_directories(tracks / circuit);
    fs::create_directories(mirror / circuit);
    for (int i = 0; i < shape.files_per_circuit; ++i) {
      const std::size_t size = FileSize(random, shape.max_size);
      const std::string name = std::string(circuit) + "_" + std::to_string(i) + ".dat";
      WriteFile(tracks / circuit / name, size, random);
      fs::create_hard_link(tracks / circuit / name, mirror / circuit / name);
      bytes += size;
    }
    for (const std::string& left_out : {std::string(circuit) + ".MAS", std::string(circuit) + "MAP.MAS",
                                       std::string(circuit) + ".BIK", std::string(circuit) + ".AIW",
                                       std::string(circuit) + "_q.aiw"})
      WriteFile(tracks / circuit / left_out, 64 << 10, random);
  }
  for (int i = 0; i < 500; ++i) {
    const fs::path folder = fs::path("pits") / ("crew" + std::to_string(i % 5)) / ("level" + std::to_string(i % 3));
    fs::create_directories(tracks / folder);
    fs::create_directories(mirror / folder);
    const std::string name = "pit_" + std::to_string(i) + ".dat";
    WriteFile(tracks / folder / name, 1024 + random() % (64 << 10), random);
    fs::create_hard_link(tracks / folder / name, mirror / folder / name);
  }
  return bytes;
}

// Empty target trees of the same shape for the copier and for cp. The old
// ones are moved aside, not deleted: freeing thousands of inodes just before
// a measurement slows the next file creations on ext4, which would measure
// the benchmark's own clean-up.
constexpr const char* kTargets[] = {"game/ZENTOSEASON", "cp-target", "cp-sync-target"};

void MakeEmptyTargets(const fs::path& work) {
  static int retired = 0;
  for (const char* root : kTargets) {
    if (fs::exists(work / root)) fs::rename(work / root, work / ("retired-" + std::to_string(retired++)));
    for (const char* circuit : kCircuits) fs::create_directories(work / root / "tracks" / circuit);
  }
  Sync();
}

// The copier runs as a program of its own (this one, started again with
// --copy), so that its peak memory is its alone: a forked child's ru_maxrss
// holds the parent's resident pages too.
Measure RunCopier(const fs::path& work, bool flush_each_file = false, bool with_progress = true) {
  const std::string report = (work / "peak-kib").string(), game = (work / "game").string();
  Measure measure = TimeInChild([&] {
    execl("/proc/self/exe", "copy_bench", "--copy", game.c_str(), flush_each_file ? "1" : "0",
          with_progress ? "1" : "0", report.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  });
  std::ifstream(report) >> measure.peak_kib;
  return measure;
}

// The child's side of RunCopier.
int CopyAsChild(char** argv) {
  // As the program does at its start: a desktop's soft limit of 1,024 open
  // files would otherwise cut the copier's batches short.
  RaiseOpenFileLimit();
  CurrentPosixFileCalls().flush_each_file = std::string(argv[3]) == "1";
  fs::current_path(argv[2]);
  const GameFolder game = GameFolder::Current();
  WorkLists lists(game);
  // Progress figured out and reported as the window has it, minus the window.
  CommandProgress progress([] {}, CommandProgress::Clock::duration::zero());
  RunCopyFiles(game, OpenFileSystem, lists, std::string(argv[4]) == "1" ? static_cast<Progress&>(progress) : NoProgress());
  std::ofstream(argv[5]) << OwnPeakKib();
  return 0;
}

// With `cold`, the system's caches are emptied before each run, as after a
// reboot: every source is read from the disk. Needs root.
bool DropCaches() {
  Sync();
  std::ofstream drop("/proc/sys/vm/drop_caches");
  return static_cast<bool>(drop << "3" << std::flush);
}

// cp into `target`; with `then_sync`, followed by sync: only then is its
// copy as safe from a power cut as the copier's.
Measure RunCp(const fs::path& work, const char* target, bool then_sync) {
  const std::string from = (work / "cp-source/tracks").string(), to = (work / target / "tracks").string();
  return TimeCommand("cd '" + from + "' && for d in */; do [ \"$d\" = pits/ ] || " +
                     "cp -rn --preserve=mode,timestamps \"$d\". '" + to + "'/\"$d\"; done && " +
                     "cp -r --preserve=mode,timestamps pits/. '" + to + "/pits/'" + (then_sync ? " && sync" : ""));
}

// Disk timings here vary from run to run by a factor of two: seven trials,
// told by their median, least and most.
constexpr int kTrials = 7;

struct Trials {
  std::vector<double> copier_first, cp_first, cp_sync_first, copier_repeat, cp_repeat, copier_later;
  long peak_kib = 0;
};

Trials MeasureAll(const fs::path& work, bool cold) {
  Trials t;
  const auto before_run = [&] {
    if (cold) DropCaches();
  };
  for (int trial = 0; trial < kTrials; ++trial) {
    MakeEmptyTargets(work);
    // Each goes first in one trial, so none always meets the write-back of
    // another's data; a sync after each leaves the next a clean disk.
    for (int turn = 0; turn < 3; ++turn) {
      before_run();
      switch ((trial + turn) % 3) {
        case 0: {
          const Measure ours = RunCopier(work);
          t.copier_first.push_back(ours.seconds);
          t.peak_kib = std::max(t.peak_kib, ours.peak_kib);
          break;
        }
        case 1:
          t.cp_first.push_back(RunCp(work, "cp-target", false).seconds);
          break;
        case 2:
          t.cp_sync_first.push_back(RunCp(work, "cp-sync-target", true).seconds);
          break;
      }
      Sync();
    }
    const bool copier_now = trial % 2 == 0;
    before_run();
    const double a = copier_now ? RunCopier(work).seconds : RunCp(work, "cp-target", false).seconds;
    before_run();
    const double b = copier_now ? RunCp(work, "cp-target", false).seconds : RunCopier(work).seconds;
    t.copier_repeat.push_back(copier_now ? a : b);
    t.cp_repeat.push_back(copier_now ? b : a);
    // A later repeat: the pits copies the first repeat found exact are on
    // record, as on a player's every press after the second.
    before_run();
    t.copier_later.push_back(RunCopier(work).seconds);
  }
  return t;
}

void MeasureShape(const fs::path& work, const Shape& shape, const char* round, bool cold) {
  fs::remove_all(work);
  const std::uintmax_t bytes = MakeGame(work, shape);
  const Trials t = MeasureAll(work, cold);
  std::printf("%s, %s: %d files, %.0f MB; ratios: median (least-most) of %d trials\n", shape.name, round,
              shape.Files(), bytes / 1e6, kTrials);
  std::printf("  first run:  copier %.3f s, cp -rn %.3f s, ratio %s\n", Median(t.copier_first),
              Median(t.cp_first), Told(SpreadOf(Ratios(t.copier_first, t.cp_first))).c_str());
  std::printf("  first run:  copier %.3f s, cp -rn; sync %.3f s, ratio %s\n", Median(t.copier_first),
              Median(t.cp_sync_first), Told(SpreadOf(Ratios(t.copier_first, t.cp_sync_first))).c_str());
  std::printf("  repeat run: copier %.3f s, cp -rn %.3f s, ratio %s\n", Median(t.copier_repeat),
              Median(t.cp_repeat), Told(SpreadOf(Ratios(t.copier_repeat, t.cp_repeat))).c_str());
  std::printf("  later repeat: copier %.3f s, cp -rn %.3f s, ratio %s\n", Median(t.copier_later),
              Median(t.cp_repeat), Told(SpreadOf(Ratios(t.copier_later, t.cp_repeat))).c_str());
  std::printf("  copier peak memory (its own process): %ld KiB\n", t.peak_kib);
  std::fflush(stdout);
  fs::remove_all(work);
}

}  // namespace

// The two ways of making a batch durable, each with and without another
// program writing 1 GB to the same disk meanwhile (syncfs waits for that
// program's data too; fdatasync only for the copier's own).
void MeasureFlushStyles(const fs::path& work, const Shape& shape) {
  fs::remove_all(work);
  MakeGame(work, shape);
  std::vector<double> times[2][2];
  for (int trial = 0; trial < kTrials; ++trial) {
    for (int each = 0; each < 2; ++each) {
      for (int writer = 0; writer < 2; ++writer) {
        MakeEmptyTargets(work);
        pid_t dd = 0;
        if (writer) {
          dd = fork();
          if (dd == 0) {
            const std::string to = "of=" + (work / "writer.dat").string();
            execlp("dd", "dd", "if=/dev/zero", to.c_str(), "bs=1M", "count=1024", "status=none",
                   static_cast<char*>(nullptr));
            _exit(127);
          }
        }
        times[each][writer].push_back(RunCopier(work, each).seconds);
        if (dd > 0) waitpid(dd, nullptr, 0);
        fs::remove(work / "writer.dat");
        Sync();
      }
    }
  }
  std::printf("%s: %d files, flushed by\n", shape.name, shape.Files());
  for (int writer = 0; writer < 2; ++writer)
    std::printf("  %s: syncfs %.3f s, fdatasync each %.3f s, ratio %.2f\n",
                writer ? "with 1 GB written meanwhile" : "alone", Median(times[0][writer]),
                Median(times[1][writer]), Median(times[1][writer]) / Median(times[0][writer]));
  std::fflush(stdout);
}

// What telling the progress costs: the copier with and without it, in turn.
void MeasureProgressCost(const fs::path& work, const Shape& shape) {
  fs::remove_all(work);
  MakeGame(work, shape);
  std::vector<double> times[2];
  long peak[2] = {0, 0};
  for (int trial = 0; trial < kTrials; ++trial) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool told = (trial + turn) % 2 == 0;
      MakeEmptyTargets(work);
      const Measure measure = RunCopier(work, false, told);
      times[told].push_back(measure.seconds);
      peak[told] = std::max(peak[told], measure.peak_kib);
      Sync();
    }
  }
  std::printf("%s: %d files, with progress %.3f s, without %.3f s, ratio %.3f; peak memory %ld KiB, %ld KiB, "
              "%+ld KiB\n",
              shape.name, shape.Files(), Median(times[1]), Median(times[0]), Median(times[1]) / Median(times[0]),
              peak[1], peak[0], peak[1] - peak[0]);
  std::fflush(stdout);
}

// Peak memory as the number of files grows, on a first copy of 100-byte
// files: 1,000 files against `files`, spread over folders of 1,000 and all
// in one folder.
void MeasureMemory(const fs::path& work, int files) {
  std::mt19937_64 random(1);
  const auto peak_with = [&](int count, int per_folder) {
    fs::remove_all(work);
    for (int f = 0; f * per_folder < count; ++f) {
      const std::string folder = "circuit" + std::to_string(f);
      fs::create_directories(work / "game/season02/tracks" / folder);
      fs::create_directories(work / "game/ZENTOSEASON/tracks" / ("CIRCUIT" + std::to_string(f)));
      for (int i = 0; i < per_folder && f * per_folder + i < count; ++i)
        WriteFile(work / "game/season02/tracks" / folder / ("file" + std::to_string(i) + ".dat"), 100, random);
    }
    Sync();
    return RunCopier(work).peak_kib;
  };
  const long base = peak_with(1000, 1000);
  for (const bool one_folder : {false, true}) {
    const long peak = peak_with(files, one_folder ? files : 1000);
    std::printf("copier peak memory (its own process), %s: 1,000 files %ld KiB, %d files %ld KiB, %+ld KiB\n",
                one_folder ? "in one folder" : "1,000 a folder", base, files, peak, peak - base);
    std::fflush(stdout);
  }
  fs::remove_all(work);
}

int main(int argc, char** argv) {
  if (argc > 5 && std::string(argv[1]) == "--copy") return CopyAsChild(argv);
  const fs::path work = fs::absolute(argc > 1 ? argv[1] : "copy-bench");
  const std::string only = argc > 2 ? argv[2] : "";
  if (only == "memory") {
    // copy_bench WORK memory [--files N]
    const bool counted = argc > 4 && std::string(argv[3]) == "--files";
    MeasureMemory(work, counted ? std::stoi(argv[4]) : 100000);
    return 0;
  }
  if (only == "progress") {
    MeasureProgressCost(work, kShapes[0]);
    MeasureProgressCost(work, kShapes[1]);
    fs::remove_all(work);
    return 0;
  }
  if (only == "flush") {
    MeasureFlushStyles(work, kShapes[0]);
    MeasureFlushStyles(work, {"small", 17, 600, 16 << 10});
    fs::remove_all(work);
    return 0;
  }
  // Rounds: the work folder's own file system with the sources in the
  // cache (warm) and read from the disk (cold); then, where root may make
  // them, btrfs and xfs on loop files, warm.
  const std::string round = argc > 3 ? argv[3] : "";
  const auto wanted = [&](const char* name) { return round.empty() || round == name; };
  for (const Shape& shape : kShapes) {
    if (!only.empty() && only != shape.name) continue;
    if (wanted("warm")) MeasureShape(work, shape, "warm", false);
    if (wanted("cold")) {
      if (DropCaches()) MeasureShape(work, shape, "cold", true);
      else std::printf("%s, cold: skipped, the caches cannot be dropped (not root)\n", shape.name);
    }
    for (const char* kind : {"btrfs", "xfs"}) {
      if (!wanted(kind)) continue;
      // A loop file of its own, as root.
      const testing::ImageDisk disk(work.parent_path() / "copy-bench-disks" / kind, "40G",
                                    std::string("mkfs.") + kind + " -q -f", "mount -o loop");
      if (disk.mounted()) MeasureShape(disk.folder() / "bench", shape, kind, false);
      else std::printf("%s, %s: skipped, no %s file system can be made here\n", shape.name, kind, kind);
    }
  }
  fs::remove_all(work);
  fs::remove_all(work.parent_path() / "copy-bench-disks");
}

// Times "Create INI-file" on a generated Config.ini of 1,000,000 lines (about
// 40 MB) against awk making the same four prefix replacements on the same
// file, and gives the rewriter's peak memory against the file's size. The
// rewriter reports its progress as it does in the window.
//
// Usage: ini_bench [WORK_FOLDER [LINES]]   (default: ./ini-bench, removed
// afterwards; 5000000 lines make about 200 MB)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "app/command_progress.h"
#include "bench/bench_util.h"
#include "config/ini_rewriter.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::bench;

namespace {

std::uintmax_t MakeConfig(const fs::path& path, int lines) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937 random(3);
  const char* keys[] = {"SEASONDIR=season02\\", "optionsdir=options\\", "ReplayDir=vcr\\", "SAVEDIR=save\\"};
  for (int i = 0; i < lines; ++i) {
    if (i % 1000 == 0) out << "[ Section " << i / 1000 << " ]\r\n";
    else if (i % 250 == 0) out << keys[(i / 250) % 4] << "\r\n";
    else out << "SomeSetting" << i << "=value_" << random() % 1000000 << "_abcdefgh\r\n";
  }
  return fs::file_size(path);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = fs::absolute(argc > 1 ? argv[1] : "ini-bench");
  const int lines = argc > 2 ? std::atoi(argv[2]) : 1000000;
  fs::remove_all(work);
  fs::create_directories(work);
  const std::uintmax_t bytes = MakeConfig(work / "Config.ini", lines);
  const std::string awk =
      "cd '" + work.string() + "' && exec awk '{ u = toupper($0) }"
      " substr(u, 1, 9) == \"SEASONDIR\" { print \"SEASONDIR=ZENTOSEASON\\\\\\r\"; next }"
      " substr(u, 1, 10) == \"OPTIONSDIR\" { print \"OPTIONSDIR=ZENTOOPTIONS\\\\\\r\"; next }"
      " substr(u, 1, 9) == \"REPLAYDIR\" { print \"REPLAYDIR=ZENTOVCR\\\\\\r\"; next }"
      " substr(u, 1, 7) == \"SAVEDIR\" { print \"SAVEDIR=ZENTOSAVE\\\\\\r\"; next }"
      " { print }' Config.ini > awk.ini";
  std::vector<double> ours, theirs;
  long peak = 0;
  for (int trial = 0; trial < 5; ++trial) {
    const Measure m = TimeInChild([&] {
      fs::current_path(work);
      StringList new_ini;
      // Progress reported as the window has it.
      CommandProgress progress([] {}, std::chrono::milliseconds(500));
      CreateConfigIni(*OpenFileSystem(GameFolder::Current()), new_ini, progress);
    });
    ours.push_back(m.seconds);
    peak = std::max(peak, m.peak_kib);
    theirs.push_back(TimeCommand(awk).seconds);
  }
  std::printf("Config.ini: %d lines, %.1f MB\n", lines, bytes / 1e6);
  std::printf("  rewriter %.3f s, awk %.3f s, ratio %.2f\n", Median(ours), Median(theirs),
              Median(ours) / Median(theirs));
  std::printf("  rewriter peak memory %.1f MB, %.2f times the file\n", peak / 1024.0, peak * 1024.0 / bytes);
  std::printf("  output equals awk's byte for byte: %s\n",
              ReadAll(work / "Qorvane.ini") == ReadAll(work / "awk.ini") ? "yes" : "NO");
  fs::remove_all(work);
}

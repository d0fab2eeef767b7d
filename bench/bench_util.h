#pragma once

// Small helpers shared by the benchmarks: timing a piece of work in a child
// process, timing a shell command, the spread of paired ratios.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace velmora::bench {

struct Measure {
  double seconds;
  long peak_kib;  // peak resident memory of the process that did the work
};

// This process's own peak resident memory since it was started (or exec'd):
// unlike a child's ru_maxrss, it holds nothing of the parent's.
inline long OwnPeakKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// Runs `work` in a forked copy of this process; its peak memory includes the
// pages it shares with this one.
inline Measure TimeInChild(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    work();
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "the measured work failed\n");
    std::exit(1);
  }
  return {took.count(), usage.ru_maxrss};
}

// Runs a shell command; its time, and the peak memory of its largest process.
inline Measure TimeCommand(const std::string& command) {
  return TimeInChild([&] {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  });
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The smallest, middle and largest of a set of figures.
struct Spread {
  double min, median, max;
};

inline Spread SpreadOf(const std::vector<double>& values) {
  return {*std::min_element(values.begin(), values.end()), Median(values),
          *std::max_element(values.begin(), values.end())};
}

// The ratio of each trial's figures, a[i] / b[i].
inline std::vector<double> Ratios(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) ratios.push_back(a[i] / b[i]);
  return ratios;
}

// "1.02 (0.95-1.10)": the median, then the least and the most.
inline std::string Told(const Spread& spread) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f (%.2f-%.2f)", spread.median, spread.min, spread.max);
  return text;
}

inline void Sync() {
  if (std::system("sync") != 0) std::fprintf(stderr, "sync failed\n");
}

}  // namespace velmora::bench

#pragma once

// Small helpers shared by the benchmarks: timing a piece of work in a child
// process (Linux), timing a shell command.
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

#include "bench/spread.h"

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


inline void Sync() {
  if (std::system("sync") != 0) std::fprintf(stderr, "sync failed\n");
}

}  // namespace velmora::bench

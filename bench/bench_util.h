#pragma once

// Small helpers shared by the benchmarks: timing a piece of work in a child
// process (so its peak memory is its own) and timing a shell command.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace velmora::bench {

struct Measure {
  double seconds;
  long peak_kib;  // peak resident memory of the process that did the work
};

// Runs `work` in a forked copy of this process.
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

inline void Sync() {
  if (std::system("sync") != 0) std::fprintf(stderr, "sync failed\n");
}

}  // namespace velmora::bench

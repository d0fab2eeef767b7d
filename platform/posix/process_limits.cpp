#include "platform/posix/process_limits.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_system.h"

namespace velmora {
namespace {

// Linux shows the umask in /proc/self/status; elsewhere it is set and put
// back, which is safe only while no other thread runs.
mode_t ReadUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0) return mode_t(std::stoul(line.substr(6), nullptr, 8));
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Read before main, while the program has one thread.
const mode_t kUmaskAtStart = ReadUmask();

}  // namespace

mode_t ProcessUmask() { return kUmaskAtStart; }

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error))
    ++count;
  return count;
}

std::size_t FreeDescriptors() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const std::size_t most = limit.rlim_cur == RLIM_INFINITY ? std::size_t(1) << 20 : std::size_t(limit.rlim_cur);
  const std::size_t used = OpenDescriptors() + 8;
  return most > used ? most - used : 1;
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace velmora

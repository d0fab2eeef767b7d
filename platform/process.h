#pragma once

#ifndef _WIN32
#include <unistd.h>
#endif

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct ProgramStart {
  std::vector<std::string> arguments;  // the program first
  std::string working_folder;
  std::vector<std::string> extra_environment;  // "NAME=value"
  // Windows: the program file to run; empty to let Windows search for the
  // first argument.
  std::string program_file = {};
  // How long to watch it once started: a program that ends within that time
  // with a failure (a starter that could not hand over) counts as refused.
  // 0: not watched.
  int watch_ms = 0;
};

// Starts a program that runs on by itself: in its own session, not waited
// for (but for the watch), and never left behind as a zombie of ours. When
// it cannot be started, `why`, if given, gets the system's reason; when it
// ended within the watch with a failure, its status and, on Linux, the last
// lines it wrote to its standard error (which still reaches ours).
// `started`, if given, is called as soon as the program runs, before the
// watch is over.
bool StartDetached(const ProgramStart& start, std::string* why = nullptr,
                   const std::function<void()>& started = {});

#ifndef _WIN32
// The call that forks, which a test may swap for one that fails.
struct PosixProcessCalls {
  int (*fork_process)() = [] { return int(fork()); };
};
PosixProcessCalls& CurrentPosixProcessCalls();
#endif

// The full path of a program found on PATH.
std::optional<std::string> FindOnPath(std::string_view program);

}  // namespace velmora

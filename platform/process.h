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

// Why a program did not run: the system refused to start it, in the
// system's own words, or it ended within the watch with a failure.
struct StartFailure {
  std::string refusal = {};   // the system's reason; empty when it ended
  unsigned long status = 0;   // its exit status, when it ended
  std::string said = {};      // Linux: the last lines it wrote to its standard error
};

// Starts a program that runs on by itself: in its own session, not waited
// for (but for the watch), and never left behind as a zombie of ours. When
// it cannot be started or ended within the watch with a failure, `why`, if
// given, tells which (its standard error still reaches ours). `started`, if
// given, is called as soon as the program runs, before the watch is over.
bool StartDetached(const ProgramStart& start, StartFailure* why = nullptr,
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

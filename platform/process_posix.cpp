#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"

extern char** environ;

namespace velmora {

PosixProcessCalls& CurrentPosixProcessCalls() {
  static PosixProcessCalls calls;
  return calls;
}

bool StartDetached(const ProgramStart& start) {
  if (start.arguments.empty()) return false;
  // Everything the child needs is built before fork: after it, in a process
  // with other threads, only async-signal-safe calls are allowed.
  std::vector<char*> argv;
  for (const std::string& argument : start.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& variable : start.extra_environment) envp.push_back(const_cast<char*>(variable.c_str()));
  for (char** variable = environ; *variable; ++variable) envp.push_back(*variable);
  envp.push_back(nullptr);
  const auto fork_process = CurrentPosixProcessCalls().fork_process;
  // The game's end of the pipe closes without a byte once exec has
  // succeeded; a byte says that something on the way failed.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;

  const pid_t child = fork_process();
  if (child < 0) {
    close(ready[0]);
    close(ready[1]);
    return false;
  }
  if (child == 0) {
    close(ready[0]);
    const char failed = 1;
    // The middle process leaves at once, so the game is adopted by init.
    setsid();
    const pid_t game = fork_process();
    if (game < 0) {
      (void)!write(ready[1], &failed, 1);
      _exit(1);
    }
    if (game > 0) _exit(0);
    if (chdir(start.working_folder.c_str()) == 0) execve(argv[0], argv.data(), envp.data());
    (void)!write(ready[1], &failed, 1);
    _exit(127);
  }
  close(ready[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  char failed = 0;
  ssize_t got;
  while ((got = read(ready[0], &failed, 1)) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  return got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::optional<std::string> FindOnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!folders.empty()) {
    const std::size_t end = folders.find(':');
    std::string candidate(folders.substr(0, end));
    candidate += '/';
    candidate += program;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (end == std::string_view::npos) break;
    folders.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace velmora

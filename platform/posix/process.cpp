#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string.h>

#include <cstdlib>

#include "platform/process.h"

extern char** environ;

namespace velmora {

PosixProcessCalls& CurrentPosixProcessCalls() {
  static PosixProcessCalls calls;
  return calls;
}

namespace {

bool Refused(int error, std::string* why) {
  if (why) *why = strerror(error);
  return false;
}

}  // namespace

bool StartDetached(const ProgramStart& start, std::string* why) {
  if (start.arguments.empty()) return Refused(ENOENT, why);
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
  // succeeded; an errno written there says what failed on the way.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return Refused(errno, why);

  const pid_t child = fork_process();
  if (child < 0) {
    const int error = errno;
    close(ready[0]);
    close(ready[1]);
    return Refused(error, why);
  }
  if (child == 0) {
    close(ready[0]);
    // The middle process leaves at once, so the game is adopted by init.
    setsid();
    const pid_t game = fork_process();
    if (game < 0) {
      const int error = errno;
      (void)!write(ready[1], &error, sizeof error);
      _exit(1);
    }
    if (game > 0) _exit(0);
    if (chdir(start.working_folder.c_str()) == 0) execve(argv[0], argv.data(), envp.data());
    const int error = errno;
    (void)!write(ready[1], &error, sizeof error);
    _exit(127);
  }
  close(ready[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  while ((got = read(ready[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  if (got != 0) return Refused(got == ssize_t(sizeof error) && error != 0 ? error : EIO, why);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? true : Refused(ECHILD, why);
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

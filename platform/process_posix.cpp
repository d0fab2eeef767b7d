#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"

extern char** environ;

namespace velmora {

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
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;

  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    // The middle process leaves at once, so the game is adopted by init.
    setsid();
    if (fork() != 0) _exit(0);
    if (chdir(start.working_folder.c_str()) == 0) execve(argv[0], argv.data(), envp.data());
    const char failed = 1;
    (void)!write(ready[1], &failed, 1);
    _exit(127);
  }
  close(ready[1]);
  int status = 0;
  waitpid(child, &status, 0);
  // The pipe closes without a byte once exec has succeeded.
  char failed = 0;
  const bool exec_failed = read(ready[0], &failed, 1) == 1;
  close(ready[0]);
  return !exec_failed;
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

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string.h>

#include <algorithm>
#include <cstdlib>

#include "platform/process.h"

extern char** environ;

namespace velmora {

PosixProcessCalls& CurrentPosixProcessCalls() {
  static PosixProcessCalls calls;
  return calls;
}

namespace {

bool Refused(int error, StartFailure* why) {
  if (why) why->refusal = strerror(error);
  return false;
}

// What the processes of a start tell the utility through the ready pipe,
// each in one write (less than PIPE_BUF, so never mixed with another): the
// errno of an exec that failed; that a watched program runs (its exec
// succeeded); or the status of a watched program that ended with a failure
// within the watch, followed by the last of what it wrote.
constexpr char kExecFailed = 'E';
constexpr char kRunning = 'R';
constexpr char kEndedBadly = 'X';
constexpr std::size_t kTail = 2048;

void Tell(int ready, char what, int value, const char* text = nullptr, std::size_t length = 0) {
  char message[1 + sizeof(int) + kTail];
  message[0] = what;
  memcpy(message + 1, &value, sizeof value);
  if (text) memcpy(message + 1 + sizeof value, text, length);
  (void)!write(ready, message, 1 + sizeof value + length);
}

long MillisecondsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// In the process between the utility and the game, for a watched start:
// tells the utility once the game runs, then passes what the game writes to
// its standard error on to ours, for as long as anything writes there,
// keeping the last of it. Should the game end with a failure within
// `watch_ms`, says so through `ready`; at the end of the watch (or at the
// game's success) it closes `ready`, and the utility goes on. Only async-signal-safe calls: this runs in a fork of a process
// with threads.
void Relay(int errors, int exec_done, pid_t game, int ready, int watch_ms) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);  // our standard error gone is no reason to stop passing on
  // The game's copy of `exec_done` closes at its exec, or at its exit after
  // an exec that failed, which it has told through `ready` before.
  char byte;
  while (read(exec_done, &byte, 1) < 0 && errno == EINTR) {
  }
  close(exec_done);
  (void)!write(ready, &kRunning, 1);
  timespec started;
  clock_gettime(CLOCK_MONOTONIC, &started);
  char tail[kTail];
  std::size_t kept = 0;
  bool told = false, ended = false, closed = false;
  int status = 0;
  long ended_at = 0;
  while (!closed || !told) {
    pollfd watched{closed ? -1 : errors, POLLIN, 0};
    if (poll(&watched, 1, told ? -1 : 50) > 0 && !closed) {
      char chunk[4096];
      const ssize_t got = read(errors, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        closed = true;
      } else {
        (void)!write(STDERR_FILENO, chunk, std::size_t(got));
        if (!told) {
          const std::size_t take = std::min<std::size_t>(std::size_t(got), kTail);
          if (kept + take > kTail) {
            memmove(tail, tail + (kept + take - kTail), kTail - take);
            kept = kTail - take;
          }
          memcpy(tail + kept, chunk + (got - ssize_t(take)), take);
          kept += take;
        }
      }
    }
    if (told) continue;
    if (!ended && waitpid(game, &status, WNOHANG) == game) {
      ended = true;
      ended_at = MillisecondsSince(started);
    }
    const long now = MillisecondsSince(started);
    // Once the game has ended, what it wrote last is read for a moment more.
    if ((ended && (closed || now - ended_at >= 200)) || now >= watch_ms) {
      if (ended && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        Tell(ready, kEndedBadly, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), tail, kept);
      close(ready);
      told = true;
    }
  }
  if (!ended) waitpid(game, &status, 0);
}

// Runs the game in the process it is called in, or tells why it could not.
[[noreturn]] void ExecGame(const ProgramStart& start, char* const* argv, char* const* envp, int ready) {
  if (chdir(start.working_folder.c_str()) == 0) execve(argv[0], argv, envp);
  Tell(ready, kExecFailed, errno);
  _exit(127);
}

// The last lines of what a program wrote, at most a few.
std::string LastLines(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  std::size_t from = text.size();
  for (int lines = 0; lines < 5; ++lines) {
    const std::size_t newline = from == 0 ? std::string::npos : text.rfind('\n', from - 1);
    if (newline == std::string::npos) return text;
    from = newline;
  }
  return text.substr(from + 1);
}

}  // namespace

bool StartDetached(const ProgramStart& start, StartFailure* why, const std::function<void()>& started) {
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
  const bool watched = start.watch_ms > 0;
  // The game's end of the pipe closes without a byte once exec has
  // succeeded (and, watched, once the watch is over); what is written
  // there says what failed on the way.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return Refused(errno, why);
  int errors[2] = {-1, -1};     // the watched game's standard error, to the relay
  int exec_done[2] = {-1, -1};  // closes in the watched game at its exec
  const auto close_errors = [&] {
    for (int fd : {errors[0], errors[1], exec_done[0], exec_done[1]})
      if (fd >= 0) close(fd);
  };
  if (watched && (pipe2(errors, O_CLOEXEC) != 0 || pipe2(exec_done, O_CLOEXEC) != 0)) {
    const int error = errno;
    close(ready[0]);
    close(ready[1]);
    close_errors();
    return Refused(error, why);
  }

  const pid_t child = fork_process();
  if (child < 0) {
    const int error = errno;
    close(ready[0]);
    close(ready[1]);
    close_errors();
    return Refused(error, why);
  }
  if (child == 0) {
    close(ready[0]);
    // The middle process leaves at once, so the game (and, watched, the
    // relay above it) is adopted by init.
    setsid();
    const pid_t next = fork_process();
    if (next < 0) {
      Tell(ready[1], kExecFailed, errno);
      _exit(1);
    }
    if (next > 0) _exit(0);
    if (!watched) ExecGame(start, argv.data(), envp.data(), ready[1]);
    const pid_t game = fork_process();
    if (game < 0) {
      Tell(ready[1], kExecFailed, errno);
      _exit(1);
    }
    if (game == 0) {
      dup2(errors[1], STDERR_FILENO);
      ExecGame(start, argv.data(), envp.data(), ready[1]);
    }
    close(errors[1]);
    close(exec_done[1]);
    Relay(errors[0], exec_done[0], game, ready[1], start.watch_ms);
    _exit(0);
  }
  close(ready[1]);
  close_errors();
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // Read as it comes: the game running is passed on at once, while the
  // watch goes on.
  std::string told;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(ready[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    told.append(chunk, std::size_t(got));
    if (told.front() == kRunning) {
      told.erase(0, 1);
      if (started) started();
    }
    if (told.size() >= 1 + sizeof(int) && told.front() == kExecFailed) break;
  }
  close(ready[0]);
  if (told.size() >= 1 + sizeof(int)) {
    int value = 0;
    memcpy(&value, told.data() + 1, sizeof value);
    if (told[0] == kExecFailed) return Refused(value != 0 ? value : EIO, why);
    if (why) {
      why->status = static_cast<unsigned long>(value);
      why->said = LastLines(told.substr(1 + sizeof value));
    }
    return false;
  }
  if (!told.empty()) return Refused(EIO, why);
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) return Refused(ECHILD, why);
  if (!watched && started) started();
  return true;
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

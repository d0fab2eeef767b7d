#include "platform/threads.h"

#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

namespace velmora {

ThreadCalls& CurrentThreadCalls() {
  static ThreadCalls calls{[](const char* name, std::function<void()> body) {
    return std::thread([name, body = std::move(body)] {
#ifdef __linux__
      pthread_setname_np(pthread_self(), name);  // seen in top, gdb and /proc
#else
      (void)name;
#endif
      body();
    });
  }};
  return calls;
}

std::thread StartThread(const char* name, std::function<void()> body) {
  try {
    return CurrentThreadCalls().create(name, std::move(body));
  } catch (const std::system_error&) {
    return std::thread();
  } catch (const std::bad_alloc&) {
    return std::thread();
  }
}

void LowerThisThreadsPriority() {
#ifdef _WIN32
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
#elif defined(SCHED_IDLE)
  const sched_param none{};
  pthread_setschedparam(pthread_self(), SCHED_IDLE, &none);
#endif
}

}  // namespace velmora

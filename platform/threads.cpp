#include "platform/threads.h"

#include <system_error>
#include <utility>

#ifndef _WIN32
#include <pthread.h>
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

}  // namespace velmora

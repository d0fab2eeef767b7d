#pragma once

// Threads are a resource the system may refuse (EAGAIN under a low process
// limit or memory pressure). Whoever starts one here learns so and does the
// work on its own thread instead.
#include <functional>
#include <thread>

namespace velmora {

// Starts a thread running `body`, called `name` where the system names
// threads (at most 15 characters). When none can be had the thread is empty
// (not joinable) and `body` has not run.
std::thread StartThread(const char* name, std::function<void()> body);

// How threads are made; a test replaces it to refuse some of them.
struct ThreadCalls {
  std::function<std::thread(const char* name, std::function<void()> body)> create;
};
ThreadCalls& CurrentThreadCalls();

}  // namespace velmora

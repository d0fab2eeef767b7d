#pragma once

// Makes the system refuse some threads, as one out of threads would
// (pthread_create failing with EAGAIN), for as long as it lives.
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include "platform/testing/injected.h"
#include "platform/threads.h"

namespace velmora::testing {

class RefusedThreads {
 public:
  // Threads of these names cannot be started.
  explicit RefusedThreads(std::set<std::string> names) : injected_(CurrentThreadCalls()) {
    const auto create = injected_.calls().create;
    injected_.calls().create = [create, names = std::move(names)](const char* name, std::function<void()> body) {
      if (names.count(name)) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return create(name, std::move(body));
    };
  }

 private:
  Injected<ThreadCalls> injected_;
};

}  // namespace velmora::testing

#pragma once

// A flush of the copies' file system that waits until the test lets it go.
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "platform/posix/calls.h"

namespace velmora::testing {

class HeldFlush {
 public:
  explicit HeldFlush(PosixFileCalls& calls) {
    calls.sync_file_system = [this](int fd) {
      std::unique_lock lock(mutex_);
      released_.wait(lock, [this] { return release_; });
      return syncfs(fd);
    };
  }
  void Release() {
    std::lock_guard lock(mutex_);
    release_ = true;
    released_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool release_ = false;
};

}  // namespace velmora::testing

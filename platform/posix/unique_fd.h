#pragma once

#include <unistd.h>

#include <utility>

namespace velmora {

// Owns a POSIX file descriptor and closes it once.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~UniqueFd() { Close(); }

  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Gives up the descriptor without closing it.
  [[nodiscard]] int Release() { return std::exchange(fd_, -1); }
  // Closes now; false when the close reported an error (a write that failed late).
  bool Close() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

}  // namespace velmora

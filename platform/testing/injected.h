#pragma once

namespace velmora::testing {

// Lets a test swap some of the calls in use (a struct of std::function or
// function pointers) and puts the originals back when it ends.
template <typename Calls>
class Injected {
 public:
  explicit Injected(Calls& calls) : calls_(calls), saved_(calls) {}
  ~Injected() { calls_ = saved_; }
  Injected(const Injected&) = delete;
  Injected& operator=(const Injected&) = delete;
  Calls& calls() { return calls_; }

 private:
  Calls& calls_;
  Calls saved_;
};

}  // namespace velmora::testing

#pragma once

#include <atomic>
#include <functional>

namespace velmora {

// Runs a window's command on a worker thread while the window's own thread
// goes on serving its events, so that the desktop sees a live window that is
// drawn again when uncovered. One command at a time. The window supplies the
// "serve events, drop input" step; what is shared by both windows lives here.
class CommandWorker {
 public:
  // Runs `command` on a worker thread and `serve_until_done` on this one.
  // When the command has returned, Done() turns true and `wake` is called on
  // the worker; `serve_until_done` returns once it sees Done(). Whatever the
  // command throws is passed over. Called while a command runs, it does
  // nothing and returns false. True when a request to end the program
  // came in meanwhile (see DeferClose).
  bool Run(const std::function<void()>& command, const std::function<void()>& wake,
           const std::function<void()>& serve_until_done);

  bool Running() const { return running_; }
  bool Done() const { return done_.load(std::memory_order_acquire); }
  // A request to end the program: while a command runs it is remembered and
  // true is returned, so that the program ends once the command is done.
  bool DeferClose();

 private:
  bool running_ = false;
  bool close_requested_ = false;
  std::atomic<bool> done_{false};
};

}  // namespace velmora

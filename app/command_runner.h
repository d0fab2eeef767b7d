#pragma once

// How a button's command runs, the same in both windows: one at a time,
// whatever route the press came by (a click, a key, a click made by a
// program or by assistive technology); "Copy files" and "Create INI-file"
// on a worker thread while the window's own thread goes on serving its
// events, so that the desktop sees a live window; afterwards the focus back
// on the button that was pressed. Each window supplies only its toolkit's
// steps.
#include <atomic>
#include <functional>
#include <optional>
#include <type_traits>

#include "app/command_progress.h"
#include "app/notice.h"
#include "app/window_design.h"

namespace velmora {

// What a window does around a command, in its own toolkit's calls.
class CommandWindow {
 public:
  virtual ~CommandWindow() = default;
  // Greys "Copy files", "Create INI-file" and "Close" and captions "Copy
  // files" "Copying ...", or undoes that.
  virtual void ShowCopying(bool copying) = 0;
  // Wakes the window's thread from its wait for events; called on the worker.
  virtual void Wake() = 0;
  // Serves the window's events with clicks and keys dropped until `done`
  // turns true; then drops the input still queued, made while the command ran.
  virtual void ServeDroppingInput(const std::function<bool()>& done) = 0;
  // Shows a command's progress on the window's taskbar button, where the
  // desktop has one; kNone clears it.
  virtual void ShowProgress(const TaskProgress& progress) = 0;
  // Tells the player that a command did not do everything, in a message
  // owned by the window, and returns once the player has closed it.
  virtual void Tell(const Notice& notice) = 0;
  // Puts the keyboard focus on `button`, now or once the window is active.
  virtual void Focus(design::Button button) = 0;
  // Takes the window off the screen while a game that was started is
  // watched, or brings it back, active, when the start failed after all.
  virtual void SetAway(bool away) = 0;
  // Ends the program.
  virtual void End() = 0;
};

class CommandRunner {
 public:
  explicit CommandRunner(CommandWindow& window) : window_(window) {}

  // A command: what it tells the player when it did not do everything.
  using Command = std::function<std::optional<Notice>(Progress&)>;

  // Runs the command of the button `pressed`, unless a command runs already:
  // then it does nothing and returns false. "Copy files", "Create INI-file"
  // and "Run Velmora" run on a worker thread (on this one when no thread can
  // be had, the window then busy until the command ends); "Close" runs here.
  // "Run Velmora" ends the program when it tells nothing; meanwhile, once it
  // calls Leave, the window is away. A command that throws tells so. What
  // the command reports to its Progress is shown on the taskbar while it
  // runs, and cleared when it ends, however it ends. What it tells is shown
  // once it has ended, the taskbar showing a failure meanwhile; no other
  // command runs until the player has closed that. It goes to the standard
  // error too. A request to end the program made meanwhile is carried out
  // then, and nothing is shown.
  bool Press(design::Button pressed, const Command& command);
  // The same for a command that tells nothing, with or without progress.
  template <typename Silent>
    requires std::is_void_v<decltype(std::declval<Silent>()())> ||
             std::is_void_v<decltype(std::declval<Silent>()(std::declval<Progress&>()))>
  bool Press(design::Button pressed, Silent command) {
    return Press(pressed, Command([&command](Progress& progress) -> std::optional<Notice> {
                   if constexpr (std::is_invocable_v<Silent&, Progress&>) command(progress);
                   else command();
                   return std::nullopt;
                 }));
  }

  bool Running() const { return running_; }
  // Called by the running command, on its worker: the window goes away
  // until the command ends (and comes back if it tells something).
  void Leave();
  // A request to end the program: while a command runs it is remembered and
  // true is returned, so that the program ends once the command is done.
  bool DeferClose();

 private:
  // Runs `command` on a worker, or here; gives what it tells. `between` is
  // called on this thread whenever it wakes meanwhile.
  std::optional<Notice> RunOnWorker(const Command& command, CommandProgress::Clock::duration quiet_for,
                                    const std::function<void()>& between = {});
  // Shows `notice` with the taskbar showing a failure meanwhile.
  void Tell(const Notice& notice);

  CommandWindow& window_;
  bool running_ = false;
  bool close_requested_ = false;
  std::atomic<bool> done_{false};
  std::atomic<bool> leave_{false};
};

}  // namespace velmora

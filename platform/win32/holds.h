#pragma once

// A virus scanner or the indexer may hold a file open for a moment; a
// rename over it, or an open to read it, is then tried again, as LLVM's and
// git's renames on Windows do.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/win32/calls.h"

namespace velmora {

// True when another program holds the file open: a sharing or lock
// violation, or an access denied on a file this user may delete. Without
// POSIX semantics a rename over a file held open is refused so even when
// the holder shares deletion, as scanners and indexers do (MS-FSCC
// 2.4.42). An access denied that comes from a real permission (the file
// itself cannot be opened for deletion) is not waited for.
bool IsPassingHold(DWORD error, const std::wstring& path);

// The waiting for holds of one command, shared by its threads.
class PassingHolds {
 public:
  // Runs `attempt` until it succeeds or fails for another reason than a
  // passing hold on `path`, pausing longer each time: each file for about a
  // second, enough for a virus scanner's moment, and the whole command for
  // about ten, so that a game that holds many files costs no more.
  template <typename Attempt>
  auto WaitOut(const std::wstring& path, Attempt attempt) {
    DWORD pause = 1;
    DWORD file_left = CurrentWin32Calls().hold_wait_per_file_ms;
    for (;;) {
      auto result = attempt();
      if (result) return result;
      const DWORD error = GetLastError();
      const bool held = IsPassingHold(error, path);
      const DWORD wait = held ? TakeFromBudget(std::min(pause, file_left)) : 0;
      if (wait == 0) {
        // A hold that outlasts the wait is told as one, whatever the
        // system's word for it was (an access denied on a file held open).
        SetLastError(held ? ERROR_SHARING_VIOLATION : error);
        return result;
      }
      Sleep(wait);
      file_left -= wait;
      pause *= 2;
    }
  }

 private:
  // Up to `pause` ms of the command's budget, shared by the helpers; 0 once
  // it is spent.
  DWORD TakeFromBudget(DWORD pause);

  std::atomic<DWORD> budget_ms_{CurrentWin32Calls().hold_wait_per_command_ms};
};

}  // namespace velmora

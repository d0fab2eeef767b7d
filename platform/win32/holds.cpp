#include "platform/win32/holds.h"

namespace velmora {

bool IsPassingHold(DWORD error, const std::wstring& path) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED || path.empty()) return false;
  const DWORD probe = CurrentWin32Calls().probe_delete(Long(path).c_str());
  return probe == 0 || probe == ERROR_SHARING_VIOLATION;
}

DWORD PassingHolds::TakeFromBudget(DWORD pause) {
  DWORD left = budget_ms_.load();
  while (left > 0 && !budget_ms_.compare_exchange_weak(left, left - std::min(pause, left))) {
  }
  return std::min(pause, left);
}

}  // namespace velmora

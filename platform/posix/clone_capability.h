#pragma once

// Whether the data of one file system's files can be cloned into another's,
// asked once for each pair: the first copy that tries learns it for the rest.
#include <sys/types.h>

#include <atomic>
#include <map>
#include <utility>

namespace velmora {

class CloneCapability {
 public:
  // The flag for copies from `from` to `to`: true until a clone fails. Only
  // the thread deciding on copies asks; any thread may read and clear it.
  std::atomic<bool>& For(dev_t from, dev_t to) { return pairs_.try_emplace({from, to}, true).first->second; }

 private:
  std::map<std::pair<dev_t, dev_t>, std::atomic<bool>> pairs_;  // nodes stay where they are
};

}  // namespace velmora

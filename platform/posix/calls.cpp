#include "platform/posix/calls.h"

#include <unistd.h>

namespace velmora {

PosixFileCalls& CurrentPosixFileCalls() {
  static PosixFileCalls calls{[](int fd) { return syncfs(fd); }, {}, {}, {}, {}, {}, {}, false};
  return calls;
}

}  // namespace velmora

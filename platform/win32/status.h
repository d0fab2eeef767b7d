#pragma once

// What a failed Windows call's error means to the player.
#include <windows.h>

#include "platform/failures.h"

namespace velmora {

// The cause of a failed write, rename or open of a target.
Cause CauseOfError(DWORD error);

// The same for a source file that could not be opened or read.
Cause CauseOfSourceError(DWORD error);

}  // namespace velmora

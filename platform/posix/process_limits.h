#pragma once

// What this process may hold open and how it makes files, read from the
// system without changing anything on the way.
#include <sys/types.h>

#include <cstddef>

namespace velmora {

// How many file descriptors this process has open now.
std::size_t OpenDescriptors();

// The descriptors this process may still open, less a few kept for the
// source file, the copy being written and a folder being read.
std::size_t FreeDescriptors();

// The process's umask, read once as the program starts: setting it to read
// it would change it for every thread for a moment.
mode_t ProcessUmask();

}  // namespace velmora

#pragma once

// Moments of a write on Linux that a test needs to reach: the flush that
// makes a batch of copies durable, the opening of the folder a file will
// land in (to swap it for a link right then), the end of a file's copy and
// the middle of a file's read (to change the source right then).
#include <time.h>

#include <functional>
#include <string>

namespace velmora {

struct PosixFileCalls {
  // Flushes the file system that `fd` lies on (syncfs).
  std::function<int(int fd)> sync_file_system;
  // Told the path of each folder opened for writing, before anything is
  // written into it. Empty: nothing to tell.
  std::function<void(const std::string& folder)> folder_opened;
  // Told the source of each copy once its data is copied, before the copy
  // is checked against it. Empty: nothing to tell.
  std::function<void(int source)> data_copied;
  // Told a file read whole (Config.ini) once its first part is read, before
  // the rest. Empty: nothing to tell.
  std::function<void(int file)> part_read;
  // Told a copy's temporary once its writer's descriptor is closed, just
  // before it gets its name. Empty: nothing to tell.
  std::function<void(const std::string& temporary)> naming;
  // Told a temporary just made in `folder`, before it is locked (another
  // run's sweep may strike right then). Empty: nothing to tell.
  std::function<void(int folder, const std::string& temporary)> temporary_made;
  // The moment a command starts, as the record of known copies takes it.
  // Empty: the real clock.
  std::function<timespec()> record_clock;
  // How a batch of copies is made durable: false, one syncfs for each file
  // system (the faster, measured by copy_bench); true, writeback started on
  // every file, then fdatasync on each, as dpkg does.
  bool flush_each_file;
};

// The calls in use; a test replaces one and puts the original back.
PosixFileCalls& CurrentPosixFileCalls();

}  // namespace velmora

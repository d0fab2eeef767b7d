#pragma once

// Copies written whole get their names only once they are on the disk.
// Where Windows has a flush of a file's data alone, a copy's data is written
// out as it is written, and one full flush, which reaches the drive's
// cache, covers a whole batch of them before each gets its name, as git's
// batch mode does; elsewhere a copy is flushed whole and named at once.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/failures.h"
#include "platform/file_system.h"
#include "platform/win32/handle.h"
#include "platform/win32/held_folder.h"
#include "platform/win32/holds.h"

namespace velmora {

// Where a copy goes, and what it replaces there.
struct CopyTarget {
  std::shared_ptr<const HeldFolder> folder;       // where it is named
  std::shared_ptr<const HeldFolder> temporaries;  // where it is written
  std::wstring name, target;
  bool replace;
  DWORD existing;  // the attributes of the file it replaces, if any
  GamePath path;   // the file it becomes, for telling a failure
};

// A copy written whole, waiting for its name.
struct WrittenCopy {
  CopyTarget to;
  DWORD attributes;  // the source's
  Handle out;
  std::wstring temporary;
  std::uint64_t bytes;
};

class DurableBatch {
 public:
  // Copies that fail to be named are told to `late`; the bytes named are
  // counted in `counters`.
  DurableBatch(PassingHolds& holds, LateFailures& late, CopyCounters& counters)
      : holds_(holds), late_(late), counters_(counters) {}

  // Leaves a copy whose data is written out to the batch; a full batch is
  // flushed and named by the thread that filled it.
  void Add(WrittenCopy written);
  // Gives a copy written whole, and on the disk, its name.
  Cause Name(WrittenCopy& written);
  // Flushes and names the copies waiting.
  void FlushWaiting();

 private:
  static constexpr std::size_t kBatch = 1000;
  // One full flush covers every copy of the batch: then each gets its name;
  // when it fails, none does.
  void FlushAndName(std::vector<WrittenCopy>& batch);

  PassingHolds& holds_;
  LateFailures& late_;
  CopyCounters& counters_;
  std::mutex mutex_;
  std::vector<WrittenCopy> batch_;  // written out, waiting for a full flush
};

}  // namespace velmora

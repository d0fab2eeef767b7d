#pragma once

// Copies that are complete but have no name yet. A file gets its name only
// once its data is on the disk, so that a power cut can never leave an empty
// or zero-filled file under a final name; a name lost instead is harmless,
// the next run copies that file again. Making each file durable alone would
// cost one disk flush per file; as dpkg does, the copies are gathered in
// batches, one flush waits for whole batches, then each of their files gets
// its name. The flush runs on a thread of its own, so that the next batches
// are copied while the last ones are flushed.
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/unique_fd.h"

namespace velmora {

class DurableBatch {
 public:
  struct Copy {
    UniqueFd file;                           // written whole
    std::shared_ptr<const UniqueFd> folder;  // where it lands
    dev_t device;                            // the file system it lies on
    std::string temporary;                   // its temporary name; empty for an unnamed file
    std::string name;                        // the name it is to get
    Replace replace;                         // with kNo only if that name is still free
  };

  // Larger batches gain nothing measurable and hold more files open.
  static constexpr std::size_t kCapacity = 1024;
  // A batch is also full with this much data: the disk starts writing large
  // copies early, and the last flush, which nothing overlaps, stays short.
  static constexpr std::uintmax_t kCapacityBytes = 64 << 20;

  // How many copies (or bytes) a batch gathers, and how many full batches
  // may wait for the flush. The copies held open are at most
  // batch * (queued + 2): one batch filling, and `queued` + 1 waiting or
  // being flushed.
  struct Limits {
    std::size_t batch;
    std::size_t queued;
    std::uintmax_t bytes = kCapacityBytes;
    std::size_t MostOpen() const { return batch * (queued + 2); }
  };
  // The largest limits whose copies, each holding its file and at worst its
  // folder open, stay within `descriptors`.
  static Limits LimitsFor(std::size_t descriptors);

  explicit DurableBatch(Limits limits);
  ~DurableBatch();
  DurableBatch(const DurableBatch&) = delete;
  DurableBatch& operator=(const DurableBatch&) = delete;

  // Takes a copy of `bytes`; any thread may. A full batch goes to the flush;
  // while as many batches as the limits allow are waiting, this waits for
  // the flush.
  void Add(Copy copy, std::uintmax_t bytes = 0);
  // Returns once every copy taken is flushed and named: when the flush
  // fails, none of its batch is named and their temporaries are removed.
  void Flush();

 private:
  void Submit(std::unique_lock<std::mutex>& lock);
  void FlushLoop();

  const Limits limits_;
  std::vector<Copy> filling_;
  std::uintmax_t filling_bytes_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<Copy>> waiting_;
  std::vector<std::vector<Copy>> spare_;  // emptied batches, kept for their storage
  std::size_t flushing_ = 0;  // batches taken by the flush, not yet named
  bool stopping_ = false;
  std::thread flusher_;  // started with the first batch
};

// Gives a complete temporary file in `folder` the name `to`, only if that
// name is free.
bool RenameNoReplace(int folder, const std::string& from, const std::string& to);

}  // namespace velmora

#pragma once

// Copies that are complete but have no name yet. A file gets its name only
// once its data is on the disk, so that a power cut can never leave an empty
// or zero-filled file under a final name; a name lost instead is harmless,
// the next run copies that file again. Making each file durable alone would
// cost one disk flush per file; as dpkg does, the copies are gathered in
// batches, one flush waits for whole batches, then each of their files gets
// its name. The flush runs on a thread of its own, so that the next batches
// are copied while the last ones are flushed; when that thread cannot be
// had, the thread that fills a batch flushes it.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/failures.h"
#include "platform/file_system.h"
#include "platform/posix/unique_fd.h"
#include "platform/thread_queue.h"

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
    bool flushed = false;                    // its data already flushed alone
    bool no_journal = false;                 // its folder flushed after it replaces a file
    bool named = false;                      // it has its name
    GamePath target = {};                    // the file it becomes, for telling a failure
    std::uint64_t bytes = 0;                 // its size, counted once it is named

    // Removes the temporary of a copy that will not be named.
    void Discard() const;
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

  // Copies that cannot be named are told to `late`, if given; the bytes of
  // those named are added to `named`, if given.
  explicit DurableBatch(Limits limits, LateFailures* late = nullptr, std::atomic<std::uint64_t>* named = nullptr);
  // Flushes and names what it holds.
  ~DurableBatch();
  DurableBatch(const DurableBatch&) = delete;
  DurableBatch& operator=(const DurableBatch&) = delete;

  // Takes a copy of `bytes`; any thread may. A full batch goes to the flush;
  // while as many batches as the limits allow are waiting, this (and every
  // other thread adding) waits for the flush.
  void Add(Copy copy, std::uintmax_t bytes = 0);
  // Names a copy whose data needs no flush (a clone of blocks on the disk
  // already, on a file system whose journal keeps the clone before the
  // name), here and now, as Add's batch would once flushed.
  void NameAtOnce(Copy copy);
  // Returns once every copy taken is flushed and named: when the flush
  // fails, none of its batch is named and their temporaries are removed.
  void Flush();

 private:
  using Batch = std::vector<Copy>;
  // Hands the batch being filled to the flush; called with `mutex_` held.
  void Submit();
  // Flushes batches and names their copies; on the flush thread.
  void FlushAndName(std::vector<Batch>& batches);

  const Limits limits_;
  LateFailures* const late_;
  std::atomic<std::uint64_t>* const named_;
  std::mutex mutex_;  // held while a batch is filled or handed over
  Batch filling_;
  std::uintmax_t filling_bytes_ = 0;
  std::mutex spare_mutex_;
  std::vector<Batch> spare_;  // emptied batches, kept for their storage
  ThreadQueue<Batch> flush_;  // last: it names what it holds before the rest goes
};

// Gives a complete temporary file in `folder` the name `to`, only if that
// name is free; `held_open` when a descriptor of it is still open.
bool RenameNoReplace(int folder, const std::string& from, const std::string& to, bool held_open = false);

}  // namespace velmora

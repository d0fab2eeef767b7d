#pragma once

// Writes the copies the file system has decided on, on helper threads beside
// the one deciding, and hands each complete copy to the batch that names it
// once it is on the disk.
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/failures.h"
#include "platform/file_system.h"
#include "platform/posix/durable_batch.h"
#include "platform/posix/known_copies.h"
#include "platform/posix/status.h"
#include "platform/posix/unique_fd.h"
#include "platform/work_sharing.h"

namespace velmora {

// A copy decided on and its source open, waiting to be written.
struct PendingCopy {
  UniqueFd source;
  struct stat status;
  std::shared_ptr<const UniqueFd> folder;  // where it lands
  dev_t device;                            // the file system it lies on
  std::string name;
  Replace replace;
  bool replaces;             // a file of that name is there to be replaced
  std::atomic<bool>* clone;  // whether this pair of file systems may still clone
  bool flush_alone;          // flushed by itself before it goes to the batch
  bool no_journal;           // its folder flushed after a rename that replaces
  GamePath target;           // the file it becomes, for telling a failure
};

class CopyWriter {
 public:
  // Helpers as the descriptors free allow; files made with `umask` applied.
  // Copies that fail on a helper are told to `late`; the bytes written are
  // counted in `counters`.
  // Exact copies are looked up in, and told to, `known`.
  CopyWriter(std::size_t free_descriptors, mode_t umask, DurableBatch& batch, LateFailures& late,
             CopyCounters& counters, KnownCopies& known);

  // Writes the copy, here or on a helper; one that fails leaves nothing, and
  // one that would replace its own exact copy is not written at all.
  // Between file systems that clone, a copy is a few changes of the file
  // system's own records, made here: handed to a helper, it would only
  // wait for the locks this thread holds while it opens the next source.
  // One that replaces goes to a helper all the same: most often it only
  // finds its exact copy there, and several such looks run at once.
  void Post(PendingCopy copy) {
    if (copy.clone->load(std::memory_order_relaxed) && !copy.replaces) writers_.RunHere(std::move(copy));
    else writers_.Post(std::move(copy));
  }
  // Returns once every copy posted is written and in the batch.
  void Drain() { writers_.Drain(); }
  // Copies whose failure could not even be recorded.
  std::size_t Unrecorded() const { return writers_.Unrecorded(); }

  // How many helpers write beside the deciding thread when `free_descriptors`
  // are free: three, and only while the descriptors they hold stay within an
  // eighth of those.
  static std::size_t HelpersFor(std::size_t free_descriptors);

 private:
  // Writes a copy and hands it to the batch; on any thread.
  Status Write(PendingCopy& pending);
  // Creates the file a copy is written into; gives the permission bits it
  // was created with.
  Result<mode_t> Create(const PendingCopy& pending, DurableBatch::Copy& copy) const;

  const mode_t umask_;
  const bool unnamed_files_;  // O_TMPFILE copies can be linked in through /proc
  DurableBatch& batch_;
  LateFailures& late_;
  CopyCounters& counters_;
  KnownCopies& known_;
  WorkSharing<PendingCopy> writers_;  // last: done writing before anything they use goes
};

}  // namespace velmora

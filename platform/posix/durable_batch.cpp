#include "platform/posix/durable_batch.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <utility>

#include "platform/posix/calls.h"
#include "platform/posix/status.h"
#include "platform/posix/temporaries.h"

namespace velmora {
namespace {

// Gives the copy its name; on failure errno says why.
bool Name(DurableBatch::Copy& copy) {
  const int folder = copy.folder->get();
  if (copy.temporary.empty()) {
    // An unnamed file is linked in; the link refuses a name that is taken.
    // Linked by its descriptor where the kernel allows it (a process that
    // may read any folder; since Linux 6.10 any opener of the file), else
    // through /proc, which costs a path walk.
    if (linkat(copy.file.get(), "", folder, copy.name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return false;
    const std::string self = "/proc/self/fd/" + std::to_string(copy.file.get());
    return linkat(AT_FDCWD, self.c_str(), folder, copy.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  // Closed first: a FUSE driver (ntfs-3g) keeps a file unlinked while open
  // under a hidden second name until it is closed, which a power cut would
  // leave for good; the copy is on the disk already. Its lock stays, so
  // that a second run's sweep does not take it for a leftover meanwhile.
  UniqueFd keeper = KeepLocked(copy.file.get(), folder, copy.temporary);
  copy.file.Close();
  if (const auto& told = CurrentPosixFileCalls().naming) told(copy.temporary);
  const bool named = copy.replace == Replace::kYes
                         ? renameat(folder, copy.temporary.c_str(), folder, copy.name.c_str()) == 0
                         : RenameNoReplace(folder, copy.temporary, copy.name, bool(keeper));
  if (!named) {
    const int why = errno;
    keeper.Close();
    unlinkat(folder, copy.temporary.c_str(), 0);
    errno = why;
  }
  return named;
}

// What a copy that could not be named means to the player: a name taken
// meanwhile by a file leaves that file there, as a copy that never replaces
// would.
Cause CauseOfNaming(const DurableBatch::Copy& copy, int error) {
  if (error != EEXIST) return CauseOf(Status("rename", error));
  struct stat there;
  const bool file = fstatat(copy.folder->get(), copy.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(there.st_mode);
  return file ? Cause::kAlreadyThere : Cause::kNameTaken;
}

// Makes the batches' data durable, but for copies flushed alone already: by
// default with one flush of each file system they lie on; or as dpkg does,
// writeback started on every file, then each file flushed alone, which
// waits for nobody else's data. 0 when it is all on the disk, else the
// error of a flush that failed.
int MakeDurable(const std::vector<std::vector<DurableBatch::Copy>>& batches) {
  const PosixFileCalls& calls = CurrentPosixFileCalls();
  int failure = 0;
  const auto note = [&](int result) {
    if (result != 0 && failure == 0) failure = errno ? errno : EIO;
  };
  if (calls.flush_each_file) {
    for (const auto& batch : batches)
      for (const DurableBatch::Copy& copy : batch)
        if (!copy.flushed) sync_file_range(copy.file.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    for (const auto& batch : batches)
      for (const DurableBatch::Copy& copy : batch)
        if (!copy.flushed) note(fdatasync(copy.file.get()));
    return failure;
  }
  std::set<dev_t> flushed;
  for (const auto& batch : batches)
    for (const DurableBatch::Copy& copy : batch)
      if (!copy.flushed && flushed.insert(copy.device).second) note(calls.sync_file_system(copy.file.get()));
  return failure;
}

// Names a copy whose data is on the disk; tells `late` when it cannot be,
// or adds its bytes to `named`.
void NameOrTell(DurableBatch::Copy& copy, LateFailures* late, std::atomic<std::uint64_t>* named) {
  if (!Name(copy)) {
    if (late) late->Add(copy.target, CauseOfNaming(copy, errno));
    return;
  }
  copy.named = true;
  // A file system without a journal (vfat, exfat, exfat-fuse) frees the
  // replaced file's clusters at once: the folder's change reaches the disk
  // before any other copy can reuse them and be flushed. Journaled file
  // systems keep that order themselves. The copy is in place either way; a
  // flush that fails is told.
  if (copy.replace == Replace::kYes && (copy.flushed || copy.no_journal) && fsync(copy.folder->get()) != 0) {
    if (late) late->Add(copy.target, Cause::kNotFlushed);
    return;
  }
  if (named) named->fetch_add(copy.bytes, std::memory_order_relaxed);
}

// Flushes the batches together, then names each copy or, when the flush
// failed, discards it; what could not be named is told to `late`, the bytes
// of what was added to `named`.
void FlushBatches(std::vector<std::vector<DurableBatch::Copy>>& batches, LateFailures* late,
                  std::atomic<std::uint64_t>* named) {
  const int failure = MakeDurable(batches);
  for (auto& batch : batches)
    for (DurableBatch::Copy& copy : batch) {
      if (failure == 0) {
        NameOrTell(copy, late, named);
        continue;
      }
      copy.Discard();
      if (late) late->Add(copy.target, CauseOf(Status("fsync", failure)));
    }
}

}  // namespace

void DurableBatch::Copy::Discard() const {
  if (!temporary.empty()) unlinkat(folder->get(), temporary.c_str(), 0);
}

DurableBatch::Limits DurableBatch::LimitsFor(std::size_t descriptors) {
  const std::size_t copies = std::max<std::size_t>(descriptors / 2, 1);
  const std::size_t queued = copies >= 6 * 64 ? 4 : 1;
  return {std::clamp<std::size_t>(copies / (queued + 2), 1, kCapacity), queued, kCapacityBytes};
}

DurableBatch::DurableBatch(Limits limits, LateFailures* late, std::atomic<std::uint64_t>* named)
    : limits_(limits),
      late_(late),
      named_(named),
      // Every batch waiting is flushed at once: while a flush is slow, the
      // queue fills, and the next flush covers more files.
      flush_("flush", 1, limits.queued + 1, ThreadQueue<Batch>::Take::kAll,
             [this](std::vector<Batch>& batches) { FlushAndName(batches); }) {
  filling_.reserve(limits_.batch);
}

DurableBatch::~DurableBatch() { Flush(); }

void DurableBatch::Add(Copy copy, std::uintmax_t bytes) {
  std::lock_guard lock(mutex_);
  filling_.push_back(std::move(copy));
  filling_bytes_ += bytes;
  if (filling_.size() == limits_.batch || filling_bytes_ >= limits_.bytes) Submit();
}

void DurableBatch::NameAtOnce(Copy copy) { NameOrTell(copy, late_, named_); }

void DurableBatch::Flush() {
  {
    std::lock_guard lock(mutex_);
    Submit();
  }
  flush_.WaitIdle();
}

void DurableBatch::Submit() {
  if (filling_.empty()) return;
  Batch full = std::move(filling_);
  filling_bytes_ = 0;
  {
    // A batch's storage is used again: no large allocation for every batch.
    std::lock_guard lock(spare_mutex_);
    if (!spare_.empty()) {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  filling_.clear();
  filling_.reserve(limits_.batch);
  // With `mutex_` held, so that no other batch fills while this one waits
  // for room: the open copies stay within the limits.
  if (flush_.Hand(full, ThreadQueue<Batch>::WhenFull::kWait)) return;
  std::vector<Batch> alone;  // no flush thread: flushed here
  alone.push_back(std::move(full));
  FlushAndName(alone);
}

void DurableBatch::FlushAndName(std::vector<Batch>& batches) {
  try {
    FlushBatches(batches, late_, named_);
  } catch (...) {
    // What it held and had not named is told as failed and left nowhere.
    for (Batch& batch : batches)
      for (Copy& copy : batch)
        if (!copy.named) {
          copy.Discard();
          if (late_) late_->Add(copy.target, Cause::kOther);
        }
  }
  std::lock_guard lock(spare_mutex_);
  for (Batch& batch : batches) {
    batch.clear();  // the files closed before the next batches are taken
    spare_.push_back(std::move(batch));
  }
}

bool RenameNoReplace(int folder, const std::string& from, const std::string& to, bool held_open) {
  if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  // No renameat2 here: a hard link refuses an existing name just as well,
  // but the temporary's own name must then go, which a FUSE driver
  // (ntfs-3g) does for a file still open by hiding it under a second name
  // a power cut would leave; a temporary held open is renamed instead.
  if (!held_open) {
    if (linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
      unlinkat(folder, from.c_str(), 0);
      return true;
    }
    if (errno == EEXIST) return false;
  }
  // Without a hard link (FAT, or a temporary held open): the last check and
  // the rename are not one step.
  struct stat st;
  if (fstatat(folder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  if (errno != ENOENT) return false;
  return renameat(folder, from.c_str(), folder, to.c_str()) == 0;
}

}  // namespace velmora

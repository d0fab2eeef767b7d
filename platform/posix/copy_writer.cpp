#include "platform/posix/copy_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/posix/calls.h"
#include "platform/posix/copy_data.h"
#include "platform/posix/source_files.h"
#include "platform/posix/temporaries.h"

namespace velmora {
namespace {

// Fills `out` with the content of `in`; permission bits and times travel
// along, as with the system's own copy. A source written to while it was
// copied fails: its copy could mix old bytes and new, and a copy that never
// replaces would keep that mix for good; the next run copies it again.
Status FillCopy(int in, const struct stat& st, int out, mode_t created_with, bool& clone,
                std::atomic<std::uint64_t>& written, bool& cloned) {
  if (!CopyData(in, out, st, clone, &written, &cloned)) return Status::Failed("copy");
  if (const auto& told = CurrentPosixFileCalls().data_copied) told(in);
  struct stat after;
  if (fstat(in, &after) != 0) return Status::Failed("fstat");
  if (!Unchanged(st, after)) return Status("copy", EAGAIN);
  if ((st.st_mode & 07777) != created_with) fchmod(out, st.st_mode & 07777);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out, times);
  return Status();
}

}  // namespace

std::size_t CopyWriter::HelpersFor(std::size_t free_descriptors) {
  using Writers = WorkSharing<PendingCopy>;
  // Three whatever the processors: a helper mostly waits on the disk (a
  // source read, a pits file compared cold, data written out), and on two
  // processors three helpers made a cold repeat a fifth faster than one, a
  // first copy no slower.
  std::size_t helpers = 3;
  // Each job holds its source open, and each helper the copy it writes.
  while (helpers > 0 && Writers::MostHeldWith(helpers) + helpers > free_descriptors / 8) --helpers;
  return helpers;
}

CopyWriter::CopyWriter(std::size_t free_descriptors, mode_t umask, DurableBatch& batch, LateFailures& late,
                       CopyCounters& counters, KnownCopies& known)
    : umask_(umask),
      unnamed_files_(access("/proc/self/fd", X_OK) == 0),
      batch_(batch),
      late_(late),
      counters_(counters),
      known_(known),
      writers_(
          "copy-helper", HelpersFor(free_descriptors),
          [this](PendingCopy& copy) {
            if (const Status written = Write(copy); !written.ok()) late_.Add(std::move(copy.target), CauseOf(written));
          },
          [this](PendingCopy& copy) { late_.Add(copy.target, Cause::kOther); }) {}

Status CopyWriter::Write(PendingCopy& pending) {
  // Replacing a file with its own exact copy would change nothing on disk
  // but cost a new file.
  if (pending.replaces && IsExactCopy(pending.source.get(), pending.status, pending.folder->get(), pending.name,
                                        &known_)) {
    counters_.written += std::uint64_t(pending.status.st_size);
    counters_.named += std::uint64_t(pending.status.st_size);
    return Status();
  }
  DurableBatch::Copy copy{UniqueFd(), pending.folder, pending.device, "", std::move(pending.name), pending.replace};
  Result<mode_t> created = Create(pending, copy);
  if (!created && created.status().OutOfDescriptors()) {
    batch_.Flush();  // gives back the descriptors of the copies waiting
    created = Create(pending, copy);
  }
  if (!created) return created.status();
  bool clone = pending.clone->load(std::memory_order_relaxed);
  bool cloned = false;
  Status written;
  try {
    written = FillCopy(pending.source.get(), pending.status, copy.file.get(), *created, clone, counters_.written, cloned);
  } catch (...) {
    copy.Discard();  // nothing left behind by a copy told as failed
    throw;
  }
  if (!clone) pending.clone->store(false, std::memory_order_relaxed);
  pending.source.Close();
  // Flushed here, on a helper, where the batch's flush does not reach the
  // disk: the flushes of several copies are in flight at once.
  if (written.ok() && pending.flush_alone) {
    if (fdatasync(copy.file.get()) == 0) copy.flushed = true;
    else written = Status::Failed("fdatasync");
  }
  if (!written.ok()) {
    copy.Discard();
    return written;
  }
  copy.no_journal = pending.no_journal;
  copy.target = pending.target;  // kept: a copy that fails from here on is told by it
  copy.bytes = std::uint64_t(pending.status.st_size);
  // A clone is made of the source's blocks, written before the clone (the
  // file systems that clone, btrfs and xfs, write a source's cached data
  // first), and their journals commit the clone no later than the name
  // given after it: named now, as cp would, with no flush to wait for. On
  // btrfs, a name given long after its file was made costs twice as much.
  if (cloned && !pending.flush_alone) {
    batch_.NameAtOnce(std::move(copy));
    return Status();
  }
  // What the batch's flush will write: a file's holes cost it nothing, nor
  // does a copy flushed already.
  const off_t data = copy.flushed ? 0 : std::min<off_t>(pending.status.st_size, off_t(pending.status.st_blocks) * 512);
  batch_.Add(std::move(copy), std::uintmax_t(data));
  return Status();
}

// A copy that must not replace anything is written into a file without a
// name where the file system has those: cut short, it leaves nothing.
// Unnamed, it may well be made with the source's permission bits at once.
Result<mode_t> CopyWriter::Create(const PendingCopy& pending, DurableBatch::Copy& copy) const {
  const int folder = pending.folder->get();
  const mode_t source_mode = pending.status.st_mode & 0777 & ~umask_;
  if (pending.replace == Replace::kNo && unnamed_files_) {
    copy.file = UniqueFd(openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, source_mode));
    if (copy.file) return source_mode;
  }
  Result<UniqueFd> temporary = CreateTemporary(folder, copy.temporary);
  if (!temporary) return temporary.status();
  copy.file = std::move(*temporary);
  return mode_t(0600 & ~umask_);
}

}  // namespace velmora

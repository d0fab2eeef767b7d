#include "platform/win32/durable_batch.h"

#include "platform/win32/calls.h"
#include "platform/win32/status.h"
#include "platform/win32/temporaries.h"

namespace velmora {
namespace {

// The attributes a copy takes from its source: what a player sees of a
// file. A cloud placeholder's state (offline, pinned, recalled on access)
// is its provider's, and the copy is a whole local file.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A name taken meanwhile by a file leaves that file there, as a copy that
// never replaces would; a write that failed says why.
Cause CauseOfCopyError(DWORD error, const CopyTarget& to) {
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
    const DWORD there = AttributesOf(to.target);
    const bool file =
        there != INVALID_FILE_ATTRIBUTES && !(there & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(to.target, there);
    return file ? Cause::kAlreadyThere : Cause::kNameTaken;
  }
  // A temporary that landed elsewhere through a link, which Windows does not call an error.
  return error == ERROR_SUCCESS ? Cause::kLinked : CauseOfError(error);
}

}  // namespace

void DurableBatch::Add(WrittenCopy written) {
  std::vector<WrittenCopy> full;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    batch_.push_back(std::move(written));
    if (batch_.size() < kBatch) return;
    full.swap(batch_);
  }
  FlushAndName(full);
}

void DurableBatch::FlushWaiting() {
  std::vector<WrittenCopy> waiting;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    waiting.swap(batch_);
  }
  FlushAndName(waiting);
}

void DurableBatch::FlushAndName(std::vector<WrittenCopy>& batch) {
  if (batch.empty()) return;
  const bool flushed = CurrentWin32Calls().flush_file(batch.back().out.get());
  const DWORD error = flushed ? ERROR_SUCCESS : GetLastError();
  for (WrittenCopy& written : batch) {
    Cause cause = Cause::kNone;
    if (flushed) {
      cause = Name(written);
    } else {
      Discard(written.out);
      cause = CauseOfError(error);
    }
    if (cause != Cause::kNone) late_.Add(std::move(written.to.path), cause);
  }
}

Cause DurableBatch::Name(WrittenCopy& written) {
  const CopyTarget& to = written.to;
  const HeldFolder& held = *to.folder;
  // A pits file copied from a CD is read-only, and so is its earlier copy:
  // replacing it means lifting that attribute first, and putting it back
  // when the replacement fails.
  const DWORD existing = to.existing;
  const bool read_only = existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY);
  if (read_only && !SetAttributes(held, to.name, existing & ~FILE_ATTRIBUTE_READONLY)) {
    const DWORD error = GetLastError();
    Discard(written.out);
    return CauseOfCopyError(error, to);
  }
  // Without replacing, the rename fails if the name was taken meanwhile.
  if (!NameTemporary(holds_, *to.temporaries, held, written.out, written.temporary, to.name, to.target,
                     to.replace)) {
    const DWORD error = GetLastError();
    if (read_only) SetAttributes(held, to.name, existing);
    Discard(written.out);
    return CauseOfCopyError(error, to);
  }
  // The copy takes the source's attributes (read-only, archive) once it has its name.
  SetAttributes(written.out.get(), written.attributes & kCopiedAttributes);
  counters_.named.fetch_add(written.bytes, std::memory_order_relaxed);
  return Cause::kNone;
}

}  // namespace velmora

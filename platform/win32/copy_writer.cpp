#include "platform/win32/copy_writer.h"

#include <algorithm>
#include <thread>

#include "platform/win32/calls.h"
#include "platform/win32/status.h"
#include "platform/win32/temporaries.h"

namespace velmora {

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = DWORD(std::min<std::size_t>(size, 1 << 20));
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

BufferPool::Lent BufferPool::Lend() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (free_.empty()) return Lent(*this, std::make_unique<std::vector<char>>(1 << 20));
  Buffer buffer = std::move(free_.back());
  free_.pop_back();
  return Lent(*this, std::move(buffer));
}

void BufferPool::GiveBack(Buffer buffer) {
  const std::lock_guard<std::mutex> lock(mutex_);
  free_.push_back(std::move(buffer));
}

CopyWriter::CopyWriter(DurableBatch& batch, LateFailures& late, CopyCounters& counters)
    : batch_(batch),
      late_(late),
      counters_(counters),
      writers_(
          "copy-helper", Helpers(), [this](PendingCopy& copy) { Write(copy); },
          [this](PendingCopy& copy) { late_.Add(copy.to.path, Cause::kOther); }) {}

std::size_t CopyWriter::Helpers() {
  // Each copy flushed whole waits on the disk, not the processor; seven such
  // waits at once let the file system write them out together, and under
  // Wine the flushes then cost next to nothing (measured with
  // win_copy_bench: 5,000 files in one folder as fast as without them).
  const Win32Calls& calls = CurrentWin32Calls();
  if (calls.flush_each_copy && !HasDataOnlyFlush()) return 7;
  const std::size_t processors = std::max(std::thread::hardware_concurrency(), 1u);
  return std::min<std::size_t>(processors - 1, 3);
}

void CopyWriter::Write(PendingCopy& copy) {
  const auto fail = [&](GamePath& path, DWORD error) { late_.Add(std::move(path), CauseOfError(error)); };
  std::wstring temporary;
  Handle out = CreateTemporary(*copy.to.temporaries, temporary);
  if (!out) return fail(copy.to.path, GetLastError());
  const FILETIME written{copy.info.LastWriteTime.LowPart, DWORD(copy.info.LastWriteTime.HighPart)};
  std::uint64_t copied = 0;
  const bool whole = CopyData(copy.in.get(), out.get(), copied) && SetFileTime(out.get(), nullptr, nullptr, &written);
  const DWORD error = whole ? ERROR_SUCCESS : GetLastError();
  copy.in.Close();
  if (!whole) {
    Discard(out);
    return fail(copy.to.path, error);
  }
  // The copy's way in is kept: one that fails from here on is told by it.
  WrittenCopy done{copy.to, copy.info.FileAttributes, std::move(out), std::move(temporary), copied};
  const Win32Calls& calls = CurrentWin32Calls();
  if (calls.flush_each_copy) {
    if (calls.flush_data_only(done.out.get())) return batch_.Add(std::move(done));
    if (!calls.flush_file(done.out.get())) {
      const DWORD failed = GetLastError();
      Discard(done.out);
      return fail(done.to.path, failed);
    }
  }
  if (const Cause cause = batch_.Name(done); cause != Cause::kNone) late_.Add(std::move(done.to.path), cause);
}

bool CopyWriter::CopyData(HANDLE from, HANDLE to, std::uint64_t& copied) {
  const BufferPool::Lent lent = buffers_.Lend();
  std::vector<char>& buffer = *lent;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(from, buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteAll(to, buffer.data(), got)) return false;
    copied += got;
    counters_.written.fetch_add(got, std::memory_order_relaxed);
  }
}

}  // namespace velmora

#pragma once

// Writes the copies the file system has decided on, on helper threads beside
// the one deciding, and hands each complete copy to the batch that names it
// once it is on the disk. A copy is written in its target folder's hidden
// temporaries' folder; one that fails leaves nothing.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/failures.h"
#include "platform/file_system.h"
#include "platform/win32/durable_batch.h"
#include "platform/win32/handle.h"
#include "platform/work_sharing.h"

namespace velmora {

// Writes all of `data` to `file`.
bool WriteAll(HANDLE file, const char* data, std::size_t size);

// A copy whose source is open and whose name is free, to be written.
struct PendingCopy {
  Handle in;
  FILE_BASIC_INFO info;
  CopyTarget to;
};

// The copy buffers of the helpers, owned here rather than by the threads:
// MinGW frees a thread's storage before the destructors of its
// thread_local objects have run, so a buffer that lived with a helper
// could be freed twice as the helper ends.
class BufferPool {
 public:
  using Buffer = std::unique_ptr<std::vector<char>>;
  class Lent {
   public:
    Lent(BufferPool& pool, Buffer buffer) : pool_(pool), buffer_(std::move(buffer)) {}
    ~Lent() { pool_.GiveBack(std::move(buffer_)); }
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;
    std::vector<char>& operator*() const { return *buffer_; }

   private:
    BufferPool& pool_;
    Buffer buffer_;
  };
  Lent Lend();

 private:
  void GiveBack(Buffer buffer);
  std::mutex mutex_;
  std::vector<Buffer> free_;
};

class CopyWriter {
 public:
  // Copies that fail on a helper are told to `late`; the bytes written are
  // counted in `counters`.
  CopyWriter(DurableBatch& batch, LateFailures& late, CopyCounters& counters);
  void Post(PendingCopy copy) { writers_.Post(std::move(copy)); }
  // Returns once every copy posted is written, and named or in the batch.
  void Drain() { writers_.Drain(); }
  // Copies whose failure could not even be recorded.
  std::size_t Unrecorded() const { return writers_.Unrecorded(); }

 private:
  // Writes a copy and, where Windows has it, writes its data out to the
  // drive and leaves it to the batch; elsewhere flushes it whole and names
  // it at once. A copy that fails is told to the late failures.
  void Write(PendingCopy& copy);
  // Copies the rest of `from` into `to`, counting the bytes in `copied` and
  // in the written counter as they go.
  bool CopyData(HANDLE from, HANDLE to, std::uint64_t& copied);
  // As many helpers as processors beside the deciding thread, at most three:
  // Windows' storage stack serves several requests in flight better than one.
  // Where each copy is flushed whole, more: they wait on the disk.
  static std::size_t Helpers();

  DurableBatch& batch_;
  LateFailures& late_;
  CopyCounters& counters_;
  BufferPool buffers_;                // lent to the helpers
  WorkSharing<PendingCopy> writers_;  // last: done writing before anything they use goes
};

}  // namespace velmora

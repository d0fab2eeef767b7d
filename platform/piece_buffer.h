#pragma once

// Gathers the small pieces a file is written in (its lines, say) into
// writes of about 1 MB: many pieces cost few system calls, and the memory
// held stays the same however large the file.
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace velmora {

class PieceBuffer {
 public:
  static constexpr std::size_t kSize = 1 << 20;

  // `write` writes all it is given, or returns false.
  explicit PieceBuffer(std::function<bool(std::string_view)> write) : write_(std::move(write)) {
    buffer_.reserve(kSize);
  }

  // False once a write has failed.
  bool Put(std::string_view piece) {
    if (buffer_.size() + piece.size() > kSize && !Drain()) return false;
    if (piece.size() > kSize) return write_(piece);
    buffer_.append(piece);
    return true;
  }
  // Writes what is gathered.
  bool Drain() {
    const bool written = buffer_.empty() || write_(buffer_);
    buffer_.clear();
    return written;
  }

 private:
  std::function<bool(std::string_view)> write_;
  std::string buffer_;
};

}  // namespace velmora

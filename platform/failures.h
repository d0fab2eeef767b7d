#pragma once

// Why a file operation was not done, in terms a player can act on, and the
// record of operations that failed after the call asking for them returned
// (a copy written on a helper, or named once its batch was flushed).
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/game_folder.h"

namespace velmora {

enum class Cause : std::uint8_t {
  kNone,           // done
  kAlreadyThere,   // a file of that name is there already and stays as it is
  kFolderMissing,  // the folder it goes into is not there
  kLinked,         // the way to it passes a link, which is never written through
  kNameTaken,      // a folder or a link holds its name
  kDiskFull,
  kNotAllowed,     // the system does not let this user write there
  kReadOnlyDisk,
  kInUse,          // another program holds it
  kUnreadable,     // the source cannot be read
  kDiskError,      // the disk failed a read or a write
  kChanged,        // the source was written to while it was copied
  kVanished,       // the source went away before it was copied
  kNotFlushed,     // written and named, but its folder's flush failed
  kOther,
};

// What a file operation came to: done, or the reason it was not.
struct FileResult {
  Cause cause = Cause::kNone;
  FileResult() = default;
  FileResult(Cause why) : cause(why) {}
  explicit operator bool() const { return cause == Cause::kNone; }
};

// A value read from the disk, or the cause it could not be read.
template <typename T>
class Found : public std::optional<T> {
 public:
  Found(T value) : std::optional<T>(std::move(value)) {}
  Found(Cause why) : cause(why == Cause::kNone ? Cause::kOther : why) {}
  Cause cause = Cause::kNone;
};

struct Failure {
  GamePath path;  // the file that was to be written
  Cause cause;
};

// Failures told by any thread, taken once the work has settled.
class LateFailures {
 public:
  void Add(GamePath path, Cause cause) {
    const std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back({std::move(path), cause});
  }
  std::vector<Failure> Take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(failures_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Failure> failures_;
};

// Copies that failed where even their failure could not be recorded (its
// record threw: memory ran out): the command cannot tell which, so it stops
// saying how many, rather than counting them as copied.
class UntoldFailures : public std::runtime_error {
 public:
  explicit UntoldFailures(std::size_t count)
      : std::runtime_error(std::to_string(count) + " failures could not be recorded"), count_(count) {}
  std::size_t count() const { return count_; }

 private:
  std::size_t count_;
};

}  // namespace velmora

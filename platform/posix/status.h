#pragma once

// What a failed system call was and why, handed back as a value: the call's
// name and its errno, taken where it failed rather than read from errno
// later, after other calls may have changed it.
#include <errno.h>
#include <string.h>

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/failures.h"

namespace velmora {

class Status {
 public:
  Status() = default;  // success
  Status(const char* call, int code) : call_(call), code_(code) {}
  // The call that just failed, with errno as it left it.
  static Status Failed(const char* call) { return Status(call, errno); }

  bool ok() const { return call_ == nullptr; }
  const char* call() const { return call_; }
  int code() const { return code_; }
  // The process, or the whole system, has no descriptor left to open with.
  bool OutOfDescriptors() const { return code_ == EMFILE || code_ == ENFILE; }
  std::string ToString() const { return ok() ? "ok" : std::string(call_) + ": " + strerror(code_); }

 private:
  const char* call_ = nullptr;
  int code_ = 0;
};

// A value, or the failure that left none.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Status failure) : status_(failure) {}

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  // The value's members; a Result of a pointer reads as that pointer.
  auto operator->() {
    if constexpr (std::is_pointer_v<T>) return *value_;
    else return &*value_;
  }
  auto operator->() const {
    if constexpr (std::is_pointer_v<T>) return *value_;
    else return &*value_;
  }
  const Status& status() const { return status_; }

 private:
  std::optional<T> value_;
  Status status_;
};

// What a failure writing a file, or opening the folder it goes into, means
// to the player.
inline Cause CauseOf(const Status& status) {
  if (status.ok()) return Cause::kNone;
  switch (status.code()) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Cause::kDiskFull;
    case EROFS:
      return Cause::kReadOnlyDisk;
    case EACCES:
    case EPERM:
      return Cause::kNotAllowed;
    case EIO:
      return Cause::kDiskError;
    case EAGAIN:
      return Cause::kChanged;  // a source written to while it was read
    case ETXTBSY:
    case EBUSY:
      return Cause::kInUse;
    case ELOOP:
      return Cause::kLinked;
    case ENOENT:
    case ENOTDIR:
      return Cause::kFolderMissing;
    case EEXIST:
    case EISDIR:
      return Cause::kNameTaken;
    default:
      return Cause::kOther;
  }
}

// The same for a failure opening or reading a source file.
inline Cause CauseOfSource(const Status& status) {
  switch (status.code()) {
    case ENOENT:
      return Cause::kVanished;
    case EAGAIN:
      return Cause::kChanged;
    case EIO:
      return Cause::kDiskError;
    default:
      return status.ok() ? Cause::kNone : Cause::kUnreadable;
  }
}

// The same for a file read whole: a folder in its place holds its name,
// and a file this user may not read is not allowed.
inline Cause CauseOfRead(const Status& status) {
  switch (status.code()) {
    case EACCES:
    case EPERM:
      return Cause::kNotAllowed;
    case EISDIR:
      return Cause::kNameTaken;
    default:
      return CauseOfSource(status);
  }
}

}  // namespace velmora

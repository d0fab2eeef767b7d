#include "platform/win32/status.h"

namespace velmora {
namespace {

// The errors of a cloud file whose provider cannot bring it (not running,
// offline, refused): ERROR_CLOUD_FILE_PROPERTY_BLOB_TOO_LARGE (358) to
// ERROR_CLOUD_FILE_PROVIDER_TERMINATED (404).
bool IsCloudFileError(DWORD error) { return error >= 358 && error <= 404; }

// "The disk quota has been exceeded"; MinGW's headers lack it.
constexpr DWORD kDiskQuotaExceeded = 1295;

}  // namespace

Cause CauseOfError(DWORD error) {
  if (IsCloudFileError(error)) return Cause::kUnreadable;  // the game's file could not be brought
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      return Cause::kDiskFull;
    case ERROR_WRITE_PROTECT:
      return Cause::kReadOnlyDisk;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return Cause::kNotAllowed;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return Cause::kInUse;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_NOT_READY:
      return Cause::kDiskError;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Cause::kFolderMissing;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Cause::kNameTaken;
    default:
      return Cause::kOther;
  }
}

Cause CauseOfSourceError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Cause::kVanished;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Cause::kInUse;
    default:
      return CauseOfError(error) == Cause::kDiskError ? Cause::kDiskError : Cause::kUnreadable;
  }
}

}  // namespace velmora

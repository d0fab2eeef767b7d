#include "platform/win32/status.h"

namespace velmora {
namespace {

// The errors of a cloud file whose provider could not bring it (not
// running, offline, refused, timed out), as winerror.h numbers them. The
// numbers between belong to other families (368 is
// ERROR_STORAGE_LOST_DATA_PERSISTENCE, 384 ERROR_SMB1_NOT_AVAILABLE, 400
// ERROR_THREAD_MODE_ALREADY_BACKGROUND), and ERROR_NOT_A_CLOUD_FILE (376)
// says the file is an ordinary one.
bool IsCloudFileError(DWORD error) {
  switch (error) {
    case 358:  // ERROR_CLOUD_FILE_SYNC_ROOT_METADATA_CORRUPT
    case 362:  // ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING
    case 363:  // ERROR_CLOUD_FILE_METADATA_CORRUPT
    case 364:  // ERROR_CLOUD_FILE_METADATA_TOO_LARGE
    case 365:  // ERROR_CLOUD_FILE_PROPERTY_BLOB_TOO_LARGE
    case 366:  // ERROR_CLOUD_FILE_PROPERTY_BLOB_CHECKSUM_MISMATCH
    case 374:  // ERROR_CLOUD_FILE_TOO_MANY_PROPERTY_BLOBS
    case 375:  // ERROR_CLOUD_FILE_PROPERTY_VERSION_NOT_SUPPORTED
    case 377:  // ERROR_CLOUD_FILE_NOT_IN_SYNC
    case 378:  // ERROR_CLOUD_FILE_ALREADY_CONNECTED
    case 379:  // ERROR_CLOUD_FILE_NOT_SUPPORTED
    case 380:  // ERROR_CLOUD_FILE_INVALID_REQUEST
    case 381:  // ERROR_CLOUD_FILE_READ_ONLY_VOLUME
    case 382:  // ERROR_CLOUD_FILE_CONNECTED_PROVIDER_ONLY
    case 383:  // ERROR_CLOUD_FILE_VALIDATION_FAILED
    case 386:  // ERROR_CLOUD_FILE_AUTHENTICATION_FAILED
    case 387:  // ERROR_CLOUD_FILE_INSUFFICIENT_RESOURCES
    case 388:  // ERROR_CLOUD_FILE_NETWORK_UNAVAILABLE
    case 389:  // ERROR_CLOUD_FILE_UNSUCCESSFUL
    case 390:  // ERROR_CLOUD_FILE_NOT_UNDER_SYNC_ROOT
    case 391:  // ERROR_CLOUD_FILE_IN_USE
    case 392:  // ERROR_CLOUD_FILE_PINNED
    case 393:  // ERROR_CLOUD_FILE_REQUEST_ABORTED
    case 394:  // ERROR_CLOUD_FILE_PROPERTY_CORRUPT
    case 395:  // ERROR_CLOUD_FILE_ACCESS_DENIED
    case 396:  // ERROR_CLOUD_FILE_INCOMPATIBLE_HARDLINKS
    case 397:  // ERROR_CLOUD_FILE_PROPERTY_LOCK_CONFLICT
    case 398:  // ERROR_CLOUD_FILE_REQUEST_CANCELED
    case 404:  // ERROR_CLOUD_FILE_PROVIDER_TERMINATED
    case 426:  // ERROR_CLOUD_FILE_REQUEST_TIMEOUT
    case 434:  // ERROR_CLOUD_FILE_DEHYDRATION_DISALLOWED
    case 475:  // ERROR_CLOUD_FILE_US_MESSAGE_TIMEOUT
      return true;
    default:
      return false;
  }
}

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

#include "platform/posix/last_error.h"

#include <cerrno>

namespace platform {
namespace posix {
namespace {
thread_local ErrorCode t_lastError = err::kSuccess;
}

ErrorCode GetLastError() { return t_lastError; }
void SetLastError(ErrorCode code) { t_lastError = code; }

ErrorCode ErrnoToWindows(int error) {
  switch (error) {
    case 0: return err::kSuccess;
    case ENOENT: return err::kFileNotFound;
    case ENOTDIR: return err::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return err::kAccessDenied;  // DeleteFileA on a folder
    case ETXTBSY: return err::kSharingViolation;
    case EEXIST: return err::kAlreadyExists;
    case ENOTEMPTY: return err::kDirNotEmpty;
    case ENOMEM: return err::kNotEnoughMemory;
    case ENOSPC:
    case EDQUOT: return err::kDiskFull;
    case ENAMETOOLONG: return err::kFilenameExcedRange;
    case EBUSY: return err::kBusy;
    case EINVAL: return err::kInvalidParameter;
    case EBADF: return err::kInvalidHandle;
    case ECONNREFUSED: return err::kBadNetPath;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT: return err::kBadNetPath;
    default: return err::kInvalidParameter;
  }
}

ErrorCode SetLastErrorFromErrno(int error) {
  t_lastError = ErrnoToWindows(error);
  return t_lastError;
}

}  // namespace posix
}  // namespace platform

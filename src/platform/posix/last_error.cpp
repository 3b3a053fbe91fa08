#include "platform/posix/last_error.h"

#include <cerrno>

namespace platform {
namespace posix {
namespace {

// The thread's slot, as GetLastError keeps it.
ErrorCode& Slot() {
  thread_local ErrorCode code = err::kSuccess;
  return code;
}

// What local files and SMB shares alike answer.
constexpr ErrnoCase kShared[] = {
    {0, err::kSuccess},
    {ENOENT, err::kFileNotFound},
    {ENOTDIR, err::kPathNotFound},
    {EACCES, err::kAccessDenied},
    {EPERM, err::kAccessDenied},
    {EROFS, err::kAccessDenied},
    {EISDIR, err::kAccessDenied},  // DeleteFileA on a folder
    {EEXIST, err::kAlreadyExists},
    {ENOTEMPTY, err::kDirNotEmpty},
    {ENOMEM, err::kNotEnoughMemory},
    {ENOSPC, err::kDiskFull},
    {ENAMETOOLONG, err::kFilenameExcedRange},
    {EBADF, err::kInvalidHandle},
};

}  // namespace

ErrorCode GetLastError() { return Slot(); }
void SetLastError(ErrorCode code) { Slot() = code; }

ErrorCode ErrnoToWindows(int error, std::initializer_list<ErrnoCase> cases, ErrorCode fallback, bool shared) {
  for (const ErrnoCase& entry : cases) {
    if (entry.error == error) return entry.code;
  }
  if (shared) {
    for (const ErrnoCase& entry : kShared) {
      if (entry.error == error) return entry.code;
    }
  }
  return fallback;
}

ErrorCode ErrnoToWindows(int error) {
  return ErrnoToWindows(error,
                        {{ETXTBSY, err::kSharingViolation},
                         {EDQUOT, err::kDiskFull},
                         {EBUSY, err::kBusy},
                         {ECONNREFUSED, err::kBadNetPath},
                         {EHOSTUNREACH, err::kBadNetPath},
                         {ENETUNREACH, err::kBadNetPath},
                         {ETIMEDOUT, err::kBadNetPath}},
                        err::kInvalidParameter);
}

ErrorCode SetLastErrorFromErrno(int error) { return Slot() = ErrnoToWindows(error); }

}  // namespace posix
}  // namespace platform

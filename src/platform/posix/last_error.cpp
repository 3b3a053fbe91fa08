#include "platform/posix/last_error.h"

#include <cerrno>

namespace platform {
namespace posix {

ErrorCode ErrnoToWindows(int error, std::initializer_list<ErrnoCase> cases, ErrorCode fallback, bool shared) {
  // What local files and SMB shares alike answer; EISDIR is DeleteFileA on a folder.
  static constexpr ErrnoCase kShared[] = {
      {0, err::kSuccess},           {ENOENT, err::kFileNotFound},     {ENOTDIR, err::kPathNotFound},
      {EACCES, err::kAccessDenied}, {EPERM, err::kAccessDenied},      {EROFS, err::kAccessDenied},
      {EISDIR, err::kAccessDenied}, {EEXIST, err::kAlreadyExists},    {ENOTEMPTY, err::kDirNotEmpty},
      {ENOMEM, err::kNotEnoughMemory}, {ENOSPC, err::kDiskFull},      {ENAMETOOLONG, err::kFilenameExcedRange},
      {EBADF, err::kInvalidHandle}};
  for (const ErrnoCase& entry : cases) {
    if (entry.error == error) return entry.code;
  }
  for (const ErrnoCase& entry : kShared) {
    if (shared && entry.error == error) return entry.code;
  }
  return fallback;
}

ErrorCode ErrnoToWindows(int error) {
  return ErrnoToWindows(error,
                        {{ETXTBSY, err::kSharingViolation}, {EDQUOT, err::kDiskFull}, {EBUSY, err::kBusy},
                         {ECONNREFUSED, err::kBadNetPath}, {EHOSTUNREACH, err::kBadNetPath},
                         {ENETUNREACH, err::kBadNetPath}, {ETIMEDOUT, err::kBadNetPath}},
                        err::kInvalidParameter);
}

}  // namespace posix
}  // namespace platform

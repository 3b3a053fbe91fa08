#include "platform/posix/errno_map.h"

#include <cerrno>

namespace platform {
namespace posix {
namespace {

struct ErrnoCase {
  int error;
  ErrorCode code;
};

// What local files and SMB shares alike answer; EISDIR is DeleteFileA on a folder.
constexpr ErrnoCase kFileErrors[] = {
    {0, err::kSuccess},           {ENOENT, err::kFileNotFound},     {ENOTDIR, err::kPathNotFound},
    {EACCES, err::kAccessDenied}, {EPERM, err::kAccessDenied},      {EROFS, err::kAccessDenied},
    {EISDIR, err::kAccessDenied}, {EEXIST, err::kAlreadyExists},    {ENOTEMPTY, err::kDirNotEmpty},
    {ENOMEM, err::kNotEnoughMemory}, {ENOSPC, err::kDiskFull},      {ENAMETOOLONG, err::kFilenameExcedRange},
    {EBADF, err::kInvalidHandle}};

// The local file system's own, before kFileErrors.
constexpr ErrnoCase kLocalErrors[] = {
    {ETXTBSY, err::kSharingViolation}, {EDQUOT, err::kDiskFull},       {EBUSY, err::kBusy},
    {ECONNREFUSED, err::kBadNetPath},  {EHOSTUNREACH, err::kBadNetPath}, {ENETUNREACH, err::kBadNetPath},
    {ETIMEDOUT, err::kBadNetPath}};

// A share that does not open, as WNetAddConnection2A answers (an EACCES or
// EPERM the caller tells apart); nothing of kFileErrors.
constexpr ErrnoCase kConnectErrors[] = {
    {ENOENT, err::kBadNetName},      {ENODEV, err::kBadNetName},       {ENOTDIR, err::kBadNetName},
    {ENXIO, err::kBadNetName},       {ECONNREFUSED, err::kBadNetPath}, {EHOSTUNREACH, err::kBadNetPath},
    {ENETUNREACH, err::kBadNetPath}, {ETIMEDOUT, err::kBadNetPath},    {EHOSTDOWN, err::kBadNetPath},
    {ENOMEM, err::kNotEnoughMemory}};

// A share's own, before kFileErrors: a file another client holds.
constexpr ErrnoCase kSmbCallErrors[] = {{EBUSY, err::kSharingViolation}};

template <std::size_t N>
bool Find(const ErrnoCase (&table)[N], int error, ErrorCode& code) {
  for (const ErrnoCase& entry : table) {
    if (entry.error == error) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

}  // namespace

ErrorCode ErrnoToWindows(int error, ErrnoTable table) {
  ErrorCode code = err::kSuccess;
  switch (table) {
    case ErrnoTable::kLocal:
      return Find(kLocalErrors, error, code) || Find(kFileErrors, error, code) ? code : err::kInvalidParameter;
    case ErrnoTable::kSmbConnect:
      return Find(kConnectErrors, error, code) ? code : err::kUnexpectedNetworkError;
    case ErrnoTable::kSmbCall:
      break;
  }
  return Find(kSmbCallErrors, error, code) || Find(kFileErrors, error, code) ? code : err::kUnexpectedNetworkError;
}

}  // namespace posix
}  // namespace platform

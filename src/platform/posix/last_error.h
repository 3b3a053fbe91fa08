// The thread's last Windows error number, as GetLastError keeps it.
#pragma once

#include "platform/errors.h"

namespace platform {
namespace posix {

ErrorCode GetLastError();
void SetLastError(ErrorCode code);

// Maps a C library errno onto the nearest Windows error number and stores it.
ErrorCode SetLastErrorFromErrno(int error);
ErrorCode ErrnoToWindows(int error);

}  // namespace posix
}  // namespace platform

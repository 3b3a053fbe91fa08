// The thread's last Windows error number, as GetLastError keeps it.
#pragma once

#include "platform/errors.h"

namespace platform {
namespace posix {

ErrorCode GetLastError();
void SetLastError(ErrorCode code);

}  // namespace posix
}  // namespace platform

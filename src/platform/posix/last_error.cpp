#include "platform/posix/last_error.h"

namespace platform {
namespace posix {

static ErrorCode& Slot() {
  thread_local ErrorCode code = err::kSuccess;
  return code;
}

ErrorCode GetLastError() { return Slot(); }
void SetLastError(ErrorCode code) { Slot() = code; }

}  // namespace posix
}  // namespace platform

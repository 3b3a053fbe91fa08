// The one map from errno values to Windows numbers.
#pragma once

#include <initializer_list>

#include "platform/errors.h"

namespace platform {
namespace posix {

struct ErrnoCase {
  int error;
  ErrorCode code;
};

// The Windows number of a local file operation's errno.
ErrorCode ErrnoToWindows(int error);
// For an operation with numbers of its own: `cases` first, then (when
// `shared`) the numbers every file operation gives, else `fallback`.
ErrorCode ErrnoToWindows(int error, std::initializer_list<ErrnoCase> cases, ErrorCode fallback,
                         bool shared = true);

}  // namespace posix
}  // namespace platform

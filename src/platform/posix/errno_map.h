// The Windows numbers of errno values: every table this layer reads errno
// with, each named after the calls it serves.
#pragma once

#include "platform/errors.h"

namespace platform {
namespace posix {

enum class ErrnoTable {
  kLocal,       // a call on the local file system (87 for the unknown)
  kSmbConnect,  // opening an SMB share once its host answered (59 for the unknown)
  kSmbCall,     // a call on an open SMB share (59 for the unknown)
};

ErrorCode ErrnoToWindows(int error, ErrnoTable table = ErrnoTable::kLocal);

}  // namespace posix
}  // namespace platform

// The private files of this layer (the key store's and the connection
// table's): one policy for both, so that nobody else can read them or make
// this program write elsewhere.
#pragma once

#include <string>

#include "platform/errors.h"
#include "log/diag_logger.h"

namespace platform {
namespace posix {

// Makes `file` and its folder ready for use. When `create`, missing folders
// are made 0700 and a missing file 0600, whatever the umask. Both must be
// the user's own, no symbolic link, of their kind, and closed to group and
// others; one of the user's that lacks the owner's own rights (left by a
// umask of 0777, say) gets them back, as do SQLite's companions of the file,
// with a warning to `logger`. 0, with `absent` set when something is missing
// and was not to be made; else the Windows error, with `why` saying what
// was refused.
ErrorCode PreparePrivateFile(const std::string& file, bool create, bool& absent, std::string& why,
                             const log4cxx::LoggerPtr& logger);

}  // namespace posix
}  // namespace platform

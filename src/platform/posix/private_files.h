// The private files of this layer (the key store's and the connection
// table's): where they live and one policy for both, so that nobody else
// can read them or make this program write elsewhere.
#pragma once

#include <string>

#include "platform/errors.h"
#include "log/diag_logger.h"

namespace platform {
namespace posix {

// The folder of this program's files of a kind, as the XDG rules place
// them: the configuration (the key store) in $XDG_CONFIG_HOME, else in
// ~/.config of the environment or else of the user's entry; the runtime
// state (the connection table) in $XDG_RUNTIME_DIR when that is a folder of
// the user's, else in a folder of the user's own below $TMPDIR or /tmp.
// Relative values are ignored, as the rules ask. "" when there is no home.
enum class PrivateFolder { kConfig, kRuntime };
std::string PrivateFolderPath(PrivateFolder kind);

// Makes `file` and its folder ready for use. When `create`, missing folders
// are made 0700 and a missing file 0600, whatever the umask. Both must be
// the user's own, no symbolic link, of their kind, and closed to writing by
// group and others; one that others may only read (or that lacks the
// owner's own rights, left by a umask of 0777, say) is made 0700 or 0600
// again, as are SQLite's companions of the file, with a warning to `logger`.
// 0, with `absent` set when something is missing and was not to be made;
// else the Windows error, with `why` saying what was refused.
ErrorCode PreparePrivateFile(const std::string& file, bool create, bool& absent, std::string& why,
                             const log4cxx::LoggerPtr& logger);

}  // namespace posix
}  // namespace platform

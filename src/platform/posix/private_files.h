// The folders and files that only the user may use (the connection table's
// and the key store's, and SQLite's companions of both): made with the modes
// 0700 and 0600 whatever the umask, and given the owner's rights back when a
// umask or a hand took them away, so that such a file never blocks later
// runs.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/posix/layer_log.h"

namespace platform {
namespace posix {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

// mkdir(path) with the mode 0700 exactly. 0, or the errno of the failure
// (EEXIST when anything is there already).
int MakePrivateFolder(const std::string& path);

// Creates the empty file `path` with the mode 0600 exactly; never through a
// link, and failing with EEXIST when anything is there already. 0 or errno.
int CreatePrivateFile(const std::string& path);

// `st` is lstat's answer for `path`. A folder or plain file of the user's own
// that lacks any of the owner's rights its kind needs (read and write, and
// search for a folder) gets them back, the other bits left as they are, and
// `st` is brought up to date, and the repair is reported to `logger`. False,
// with errno set, only when such a repair was needed and failed; true
// otherwise (nothing to do is no failure).
bool RestoreOwnerRights(const std::string& path, struct stat& st, const log4cxx::LoggerPtr& logger);

// The same for SQLite's companions of the database `file` (its rollback
// journal, write-ahead log and index), those of them that are there: SQLite
// gives a new one the database's mode, but keeps an old one's.
void RestoreCompanionRights(const std::string& file, const log4cxx::LoggerPtr& logger);

}  // namespace posix
}  // namespace platform

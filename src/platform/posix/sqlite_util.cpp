#include "platform/posix/sqlite_util.h"

#include <sys/vfs.h>

namespace platform {
namespace posix {
namespace {

// File systems whose users all share this machine's memory. Anything else
// (NFS, SMB, FUSE, cluster file systems, or a type not listed) is not.
bool OnLocalFileSystem(const std::string& path) {
  struct statfs fs {};
  if (::statfs(path.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x58465342UL:  // xfs
    case 0x9123683EUL:  // btrfs
    case 0x01021994UL:  // tmpfs
    case 0x858458F6UL:  // ramfs
    case 0xF2F52010UL:  // f2fs
    case 0x2FC12FC1UL:  // zfs
    case 0xCA451A4EUL:  // bcachefs
    case 0x794C7630UL:  // overlayfs
    case 0x3153464AUL:  // jfs
    case 0x52654973UL:  // reiserfs
      return true;
    default:
      return false;
  }
}

}  // namespace

bool UseWriteAheadLog(sqlite3* db, const std::string& file, int busyTimeoutMs) {
  if (sqlite3_db_readonly(db, "main") != 0 || !OnLocalFileSystem(file)) return false;
  // The switch needs the file to itself; it does not wait for other runs.
  sqlite3_busy_timeout(db, 0);
  bool wal = false;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* mode = sqlite3_column_text(statement, 0);
    wal = mode != nullptr && std::string(reinterpret_cast<const char*>(mode)) == "wal";
  }
  sqlite3_finalize(statement);
  sqlite3_busy_timeout(db, busyTimeoutMs);
  if (wal) {
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    // The log and its index stay, the log emptied, so that no run spends
    // time making and removing them (or an fsync of the folder).
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(db, "PRAGMA journal_size_limit=0", nullptr, nullptr, nullptr);
  }
  return wal;
}

}  // namespace posix
}  // namespace platform

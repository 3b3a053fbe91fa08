#include "platform/posix/sqlite_util.h"

#include <sqlite3.h>
#include <sys/vfs.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/posix/net_remote_name.h"

namespace platform {
namespace posix {
namespace {

// File systems whose users all share this machine's memory, as a log needs:
// ext2-4, xfs, btrfs, tmpfs, ramfs, f2fs, zfs, bcachefs, overlayfs, jfs,
// reiserfs. Anything else (NFS, SMB, FUSE, a type not listed) is not.
bool OnLocalFileSystem(const std::string& path) {
  static constexpr unsigned long kLocal[] = {0xEF53UL,     0x58465342UL, 0x9123683EUL, 0x01021994UL,
                                             0x858458F6UL, 0xF2F52010UL, 0x2FC12FC1UL, 0xCA451A4EUL,
                                             0x794C7630UL, 0x3153464AUL, 0x52654973UL};
  struct statfs fs {};
  return ::statfs(path.c_str(), &fs) == 0 &&
         std::find(std::begin(kLocal), std::end(kLocal), static_cast<unsigned long>(fs.f_type)) != std::end(kLocal);
}

}  // namespace

ErrorCode SqliteError(int rc, ErrorCode unsound) {
  // Extended codes first, then the primary code; "unsound" stands for `unsound`.
  constexpr ErrorCode kUnsound = 0xFFFFFFFF;
  static constexpr std::pair<int, ErrorCode> kCodes[] = {
      {SQLITE_IOERR_NOMEM, err::kNotEnoughMemory}, {SQLITE_IOERR_READ, err::kCantRead},
      {SQLITE_IOERR_SHORT_READ, err::kCantRead},   {SQLITE_IOERR_WRITE, err::kCantWrite},
      {SQLITE_IOERR_FSYNC, err::kCantWrite},       {SQLITE_IOERR_DIR_FSYNC, err::kCantWrite},
      {SQLITE_IOERR_TRUNCATE, err::kCantWrite},    {SQLITE_BUSY, err::kBusy},
      {SQLITE_LOCKED, err::kBusy},                 {SQLITE_PROTOCOL, err::kBusy},
      {SQLITE_READONLY, err::kAccessDenied},       {SQLITE_PERM, err::kAccessDenied},
      {SQLITE_AUTH, err::kAccessDenied},           {SQLITE_NOMEM, err::kNotEnoughMemory},
      {SQLITE_FULL, err::kDiskFull},               {SQLITE_TOOBIG, err::kInvalidParameter},
      {SQLITE_RANGE, err::kInvalidParameter},      {SQLITE_NOTADB, kUnsound},
      {SQLITE_CORRUPT, kUnsound},                  {SQLITE_FORMAT, kUnsound},
      {SQLITE_SCHEMA, kUnsound},                   {SQLITE_ERROR, kUnsound},
      {SQLITE_CANTOPEN, err::kCantOpen}};
  if (rc == SQLITE_OK) return err::kSuccess;
  for (const int code : {rc, rc & 0xFF}) {
    for (const auto& entry : kCodes) {
      if (entry.first == code) return entry.second == kUnsound ? unsound : entry.second;
    }
  }
  return err::kRegistryIoFailed;
}

int Database::Open(const std::string& file, int busyTimeoutMs) {
  busyTimeoutMs_ = busyTimeoutMs;
  // Never SQLITE_OPEN_CREATE: the caller made the file, privately.
  return Connect(file, SQLITE_OPEN_READWRITE);
}

int Database::OpenImmutable(const std::string& file) {
  std::string uri = "file:";
  for (std::size_t start = 0; start <= file.size();) {
    const std::size_t end = std::min(file.find('/', start), file.size());
    uri += EncodeUrlSegment(file.substr(start, end - start)) + (end < file.size() ? "/" : "");
    start = end + 1;
  }
  return Connect(uri + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
}

int Database::Connect(const std::string& name, int flags) {
  sqlite3* opened = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &opened, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(opened);
    return rc;
  }
  Close();
  db_ = opened;
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busyTimeoutMs_);
  return SQLITE_OK;
}

bool Database::UseWriteAheadLog(const std::string& file) {
  if (ReadOnly() || !OnLocalFileSystem(file)) return false;
  // The switch needs the file to itself; it does not wait for other runs.
  sqlite3_busy_timeout(db_, 0);
  bool wal = false;
  {
    Statement mode(*this, "PRAGMA journal_mode=WAL");
    wal = mode.Step() == SQLITE_ROW && mode.Bytes(0) == "wal";
  }
  sqlite3_busy_timeout(db_, busyTimeoutMs_);
  if (wal) {
    // The log and its index stay, emptied, so that no run makes and
    // removes them (nor pays an fsync of the folder for it).
    Exec("PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=0");
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  }
  return wal;
}

void Database::Close() {
  for (const auto& entry : cache_) sqlite3_finalize(entry.second);
  cache_.clear();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool Database::ReadOnly() const { return db_ != nullptr && sqlite3_db_readonly(db_, "main") == 1; }
int Database::Changes() const { return sqlite3_changes(db_); }

std::string Database::Describe(int rc) const {
  std::string text = sqlite3_errstr(rc);
  if (db_ != nullptr && sqlite3_extended_errcode(db_) == rc) {
    const char* detail = sqlite3_errmsg(db_);
    if (detail != nullptr && text != detail) text += std::string(" (") + detail + ")";
  }
  return text;
}

int Database::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

int Database::Run(const char* sql) {
  Statement statement(*this, sql);
  const int rc = statement.Step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

bool Database::InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

int Transaction::Begin(bool write) {
  End(false);
  const bool nested = db_.InTransaction();
  const int rc = db_.Run(nested ? "SAVEPOINT call" : write ? "BEGIN IMMEDIATE" : "BEGIN");
  if (rc == SQLITE_OK) state_ = nested ? kSavepoint : kOuter;
  return rc;
}

// A failure may have ended the outer transaction already (SQLite rolls back
// on its own after some, a full disk say): then there is nothing left to undo.
int Transaction::End(bool commit) {
  if (state_ == kEnded) return SQLITE_OK;
  const bool savepoint = state_ == kSavepoint;
  state_ = kEnded;
  const int rc = commit ? db_.Run(savepoint ? "RELEASE call" : "COMMIT") : SQLITE_ABORT;
  if (rc != SQLITE_OK && db_.InTransaction()) {
    if (savepoint) {
      db_.Run("ROLLBACK TO call");
      db_.Run("RELEASE call");
    } else {
      db_.Run("ROLLBACK");
    }
  }
  return commit ? rc : SQLITE_OK;
}

Statement::Statement(Database& db, const char* sql) {
  sqlite3_stmt*& cached = db.cache_[sql];
  if (cached == nullptr) {
    rc_ = sqlite3_prepare_v3(db.db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &cached, nullptr);
    if (rc_ == SQLITE_OK && cached == nullptr) rc_ = SQLITE_MISUSE;  // no statement in `sql`
    if (rc_ != SQLITE_OK) {
      sqlite3_finalize(cached);  // nothing kept: the next use tries again
      cached = nullptr;
    }
  }
  stmt_ = cached;
}

Statement::~Statement() {
  if (stmt_ == nullptr) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

Statement& Statement::Keep(int rc) {
  if (rc_ == SQLITE_OK) rc_ = rc;
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
  return rc_ != SQLITE_OK ? *this : Keep(sqlite3_bind_int64(stmt_, index, value));
}

Statement& Statement::Bind(int index, const std::string& text) {
  return rc_ != SQLITE_OK ? *this
                          : Keep(sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                                     SQLITE_UTF8));
}

// A null pointer would bind NULL rather than an empty blob.
Statement& Statement::BindBlob(int index, const char* data, std::uint32_t size) {
  return rc_ != SQLITE_OK ? *this
                          : Keep(sqlite3_bind_blob64(stmt_, index, data != nullptr ? data : "", size, SQLITE_TRANSIENT));
}

int Statement::Step() { return rc_ != SQLITE_OK ? rc_ : sqlite3_step(stmt_); }

std::int64_t Statement::Int(int column) { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Bytes(int column) {
  const void* data = sqlite3_column_blob(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  return data != nullptr ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                         : std::string();
}

}  // namespace posix
}  // namespace platform

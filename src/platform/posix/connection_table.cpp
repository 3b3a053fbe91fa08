#include "platform/posix/connection_table.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "platform/posix/layer_log.h"
#include "platform/posix/net_remote_name.h"
#include "platform/posix/private_files.h"
#include "platform/posix/sqlite_util.h"

namespace platform {
namespace posix {
namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr const char* kFileName = "connections.db";

log4cxx::LoggerPtr Logger() {
  static log4cxx::LoggerPtr logger = LayerLogger("Sharemapper.Connections");
  return logger;
}

void Refuse(const std::string& what) {
  LOG4CXX_ERROR(Logger(), "connection table refused: " << what);
}

// The open database of this process and its prepared statements; opened on
// first use, kept until exit or a reset.
sqlite3* g_db = nullptr;
StatementCache g_statements;

void CloseDatabase() {
  g_statements.Clear();
  if (g_db != nullptr) sqlite3_close(g_db);
  g_db = nullptr;
}

struct DbCloser {
  ~DbCloser() { CloseDatabase(); }
} g_closer;

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string FolderForEnvironment() {
  const uid_t uid = geteuid();
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    struct stat st {};
    if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid) {
      std::string base = StripTrailingSlashes(runtime);
      return (base == "/" ? "" : base) + "/sharemapper";
    }
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp != nullptr && tmp[0] == '/') ? StripTrailingSlashes(tmp) : "/tmp";
  if (base == "/") base.clear();
  return base + "/sharemapper-" + std::to_string(uid);
}

std::string Octal(unsigned mode) {
  std::ostringstream out;
  out << '0' << std::oct << (mode & 07777);
  return out.str();
}

// The owner and mode rules for the folder and the file: ours, not a link,
// of the right kind, closed to group and others.
bool Acceptable(const std::string& path, const struct stat& st, bool folder) {
  if (S_ISLNK(st.st_mode)) {
    Refuse(path + " is a symbolic link");
    return false;
  }
  if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    Refuse(path + (folder ? " is not a folder" : " is not a regular file"));
    return false;
  }
  if (st.st_uid != geteuid()) {
    Refuse(path + " belongs to uid " + std::to_string(st.st_uid) + ", not to uid " +
           std::to_string(geteuid()));
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    Refuse(path + " is open to group or others (mode " + Octal(st.st_mode) + ")");
    return false;
  }
  return true;
}

// A folder or file of ours without its owner's rights (made under a umask
// of 0777, say) would fail every later run; they are given back.
bool Repaired(const std::string& path, struct stat& st) {
  if (RestoreOwnerRights(path, st, Logger())) return true;
  const int error = errno;
  Refuse("cannot give " + path + " its owner's rights back: " + std::strerror(error));
  return false;
}

ErrorCode FromErrno(int error) {
  return (error == EACCES || error == EPERM || error == EROFS) ? err::kAccessDenied : err::kCantOpen;
}

// Makes sure the folder exists (when `create`) and is acceptable. Sets
// `absent` when it does not exist and was not to be created.
ErrorCode PrepareFolder(const std::string& folder, bool create, bool& absent) {
  absent = false;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    const int error = errno;
    if (error != ENOENT) {
      Refuse(folder + ": " + std::strerror(error));
      return FromErrno(error);
    }
    if (!create) {
      absent = true;
      return err::kSuccess;
    }
    const int mkdirError = MakePrivateFolder(folder);
    if (mkdirError != 0 && mkdirError != EEXIST) {
      Refuse("cannot create " + folder + ": " + std::strerror(mkdirError));
      return FromErrno(mkdirError);
    }
    if (::lstat(folder.c_str(), &st) != 0) {
      const int statError = errno;
      Refuse(folder + ": " + std::strerror(statError));
      return FromErrno(statError);
    }
  }
  return Repaired(folder, st) && Acceptable(folder, st, true) ? err::kSuccess : err::kAccessDenied;
}

ErrorCode PrepareFile(const std::string& file, bool create, bool& absent) {
  absent = false;
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0) {
    const int error = errno;
    if (error != ENOENT) {
      Refuse(file + ": " + std::strerror(error));
      return FromErrno(error);
    }
    if (!create) {
      absent = true;
      return err::kSuccess;
    }
    const int createError = CreatePrivateFile(file);
    if (createError != 0 && createError != EEXIST) {
      Refuse("cannot create " + file + ": " + std::strerror(createError));
      return FromErrno(createError);
    }
    if (::lstat(file.c_str(), &st) != 0) {
      const int statError = errno;
      Refuse(file + ": " + std::strerror(statError));
      return FromErrno(statError);
    }
  }
  if (!Repaired(file, st) || !Acceptable(file, st, false)) return err::kAccessDenied;
  RestoreCompanionRights(file, Logger());
  return err::kSuccess;
}

ErrorCode FromSqlite(int rc, ErrorCode otherwise) {
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return err::kBusy;
  if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT || rc == SQLITE_CANTOPEN) return err::kCantOpen;
  if (rc == SQLITE_READONLY || rc == SQLITE_PERM || rc == SQLITE_AUTH) return err::kAccessDenied;
  return otherwise;
}

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS connections ("
    " letter TEXT PRIMARY KEY NOT NULL CHECK (length(letter) = 1 AND letter BETWEEN 'A' AND 'Z'),"
    " remote_name TEXT NOT NULL,"
    " host TEXT NOT NULL,"
    " share TEXT NOT NULL,"
    " account TEXT NOT NULL,"
    " created INTEGER NOT NULL DEFAULT (strftime('%s','now')))";

// Opens the database. When it does not exist and `create` is false, returns
// 0 with `db` null: there are no connections.
ErrorCode Open(bool create, sqlite3*& db) {
  db = g_db;
  if (db != nullptr) return err::kSuccess;

  const std::string folder = FolderForEnvironment();
  bool absent = false;
  ErrorCode code = PrepareFolder(folder, create, absent);
  if (code != err::kSuccess || absent) return code;
  const std::string file = folder + "/" + kFileName;
  code = PrepareFile(file, create, absent);
  if (code != err::kSuccess || absent) return code;

  sqlite3* opened = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  if (rc != SQLITE_OK) {
    LOG4CXX_ERROR(Logger(), "cannot open " << file << ": "
                                            << (opened ? sqlite3_errmsg(opened) : sqlite3_errstr(rc)));
    sqlite3_close(opened);
    return FromSqlite(rc, err::kCantOpen);
  }
  sqlite3_busy_timeout(opened, kBusyTimeoutMs);
  rc = sqlite3_exec(opened, kSchema, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    LOG4CXX_ERROR(Logger(), "cannot use " << file << ": " << sqlite3_errmsg(opened));
    sqlite3_close(opened);
    return FromSqlite(rc, err::kCantOpen);
  }
  // The table keeps a rollback journal with synchronous=FULL. A run writes
  // it at most once, so a write-ahead log would save that commit little
  // (three fsyncs for the log against four for the journal), while every
  // run that only lists drives would have to set the log up. Its durability needs are low
  // (the connections end with the session anyway), but a table that a power
  // loss left corrupt would stop every later run until someone removed it;
  // and in a runtime folder on tmpfs, as most are, an fsync costs nothing.
  g_db = opened;
  db = opened;
  return err::kSuccess;
}

// One of the connection's cached statements, reset and unbound again when it
// goes out of scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = g_statements.Get(db, sql, stmt_); }
  ~Statement() {
    if (stmt_ == nullptr) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return rc_ == SQLITE_OK; }
  int rc() const { return rc_; }
  sqlite3_stmt* get() { return stmt_; }
  void BindText(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  std::string Column(int index) {
    const unsigned char* text = sqlite3_column_text(stmt_, index);
    const int size = sqlite3_column_bytes(stmt_, index);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
                : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

ErrorCode ReadAll(sqlite3* db, std::vector<ConnectionRow>& rows) {
  rows.clear();
  Statement select(db, "SELECT letter, remote_name, host, share, account FROM connections ORDER BY letter");
  if (!select.ok()) return FromSqlite(select.rc(), err::kCantRead);
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    ConnectionRow row;
    const std::string letter = select.Column(0);
    row.letter = letter.size() == 1 ? letter[0] : 0;
    row.remoteName = select.Column(1);
    row.host = select.Column(2);
    row.share = select.Column(3);
    row.account = select.Column(4);
    if (row.letter >= 'A' && row.letter <= 'Z') rows.push_back(row);
  }
  return rc == SQLITE_DONE ? err::kSuccess : FromSqlite(rc, err::kCantRead);
}

ErrorCode Conflicts(const std::vector<ConnectionRow>& rows, const ConnectionRow& row) {
  for (const ConnectionRow& existing : rows) {
    if (existing.letter == row.letter) return err::kAlreadyAssigned;
  }
  // Windows allows one set of credentials per server in a logon session.
  for (const ConnectionRow& existing : rows) {
    if (EqualsIgnoreCase(existing.host, row.host) && !EqualsIgnoreCase(existing.account, row.account)) {
      return err::kSessionCredentialConflict;
    }
  }
  return err::kSuccess;
}

ErrorCode Exec(sqlite3* db, const char* sql, ErrorCode otherwise) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? err::kSuccess : FromSqlite(rc, otherwise);
}

bool ValidLetter(char letter) { return letter >= 'A' && letter <= 'Z'; }

}  // namespace

std::string ConnectionTableFolder() { return FolderForEnvironment(); }

std::uint32_t ConnectedLetterMask() {
  sqlite3* db = nullptr;
  if (Open(false, db) != err::kSuccess || db == nullptr) return 0;
  std::vector<ConnectionRow> rows;
  if (ReadAll(db, rows) != err::kSuccess) return 0;
  std::uint32_t mask = 0;
  for (const ConnectionRow& row : rows) mask |= 1u << (row.letter - 'A');
  return mask;
}

ErrorCode FindConnection(char letter, ConnectionRow& row) {
  if (!ValidLetter(letter)) return err::kNotConnected;
  sqlite3* db = nullptr;
  ErrorCode code = Open(false, db);
  if (code != err::kSuccess) return code;
  if (db == nullptr) return err::kNotConnected;
  Statement select(db, "SELECT remote_name, host, share, account FROM connections WHERE letter = ?1");
  if (!select.ok()) return FromSqlite(select.rc(), err::kCantRead);
  select.BindText(1, std::string(1, letter));
  const int rc = sqlite3_step(select.get());
  if (rc == SQLITE_DONE) return err::kNotConnected;
  if (rc != SQLITE_ROW) return FromSqlite(rc, err::kCantRead);
  row.letter = letter;
  row.remoteName = select.Column(0);
  row.host = select.Column(1);
  row.share = select.Column(2);
  row.account = select.Column(3);
  return err::kSuccess;
}

ErrorCode CheckNewConnection(const ConnectionRow& row) {
  if (!ValidLetter(row.letter)) return err::kBadDevice;
  sqlite3* db = nullptr;
  ErrorCode code = Open(false, db);
  if (code != err::kSuccess || db == nullptr) return code;
  std::vector<ConnectionRow> rows;
  code = ReadAll(db, rows);
  if (code != err::kSuccess) return code;
  return Conflicts(rows, row);
}

ErrorCode InsertConnection(const ConnectionRow& row) {
  if (!ValidLetter(row.letter)) return err::kBadDevice;
  sqlite3* db = nullptr;
  ErrorCode code = Open(true, db);
  if (code != err::kSuccess) return code;

  // The checks and the insertion see the same table: IMMEDIATE takes the
  // write lock before the first read.
  code = Exec(db, "BEGIN IMMEDIATE", err::kCantWrite);
  if (code != err::kSuccess) return code;
  std::vector<ConnectionRow> rows;
  code = ReadAll(db, rows);
  if (code == err::kSuccess) code = Conflicts(rows, row);
  if (code == err::kSuccess) {
    Statement insert(db,
                     "INSERT INTO connections (letter, remote_name, host, share, account)"
                     " VALUES (?1, ?2, ?3, ?4, ?5)");
    if (!insert.ok()) {
      code = FromSqlite(insert.rc(), err::kCantWrite);
    } else {
      insert.BindText(1, std::string(1, row.letter));
      insert.BindText(2, row.remoteName);
      insert.BindText(3, row.host);
      insert.BindText(4, row.share);
      insert.BindText(5, row.account);
      const int rc = sqlite3_step(insert.get());
      if (rc == SQLITE_CONSTRAINT) {
        code = err::kAlreadyAssigned;
      } else if (rc != SQLITE_DONE) {
        code = FromSqlite(rc, err::kCantWrite);
      }
    }
  }
  if (code == err::kSuccess) {
    code = Exec(db, "COMMIT", err::kCantWrite);
    if (code == err::kSuccess) return code;
  }
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return code;
}

ErrorCode DeleteConnection(char letter) {
  if (!ValidLetter(letter)) return err::kNotConnected;
  sqlite3* db = nullptr;
  ErrorCode code = Open(false, db);
  if (code != err::kSuccess) return code;
  if (db == nullptr) return err::kNotConnected;
  Statement remove(db, "DELETE FROM connections WHERE letter = ?1");
  if (!remove.ok()) return FromSqlite(remove.rc(), err::kCantWrite);
  remove.BindText(1, std::string(1, letter));
  const int rc = sqlite3_step(remove.get());
  if (rc != SQLITE_DONE) return FromSqlite(rc, err::kCantWrite);
  return sqlite3_changes(db) > 0 ? err::kSuccess : err::kNotConnected;
}

void ResetConnectionTableForTests() { CloseDatabase(); }

}  // namespace posix
}  // namespace platform

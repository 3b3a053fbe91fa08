#include "platform/posix/registry_keystore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <log4cxx/logger.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/posix/last_error.h"
#include "platform/posix/layer_log.h"
#include "platform/posix/private_files.h"

namespace platform {
namespace posix {
namespace {

// How long an operation waits for another run that holds the store.
constexpr int kBusyTimeoutMs = 10000;

// Marks a file as this program's key store ("SMRG"), and the layout inside it.
constexpr std::int64_t kApplicationId = 0x534D5247;
constexpr std::int64_t kSchemaVersion = 1;

constexpr const char* kFolderName = "sharemapper";
constexpr const char* kFileName = "registry.db";

// Key and value names are TEXT with the NOCASE collation: SQLite folds ASCII
// letters only, which is how the names compare. The root is row 1, the only
// row whose parent is 0. Key ids are never reused, so a handle to a deleted
// key cannot come to name a newer one.
const char* const kSchema =
    "CREATE TABLE keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE key_values("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name) VALUES(1, 0, '');"
    "PRAGMA application_id = 1397576263;"
    "PRAGMA user_version = 1;";

const log4cxx::LoggerPtr& Logger() {
  static const log4cxx::LoggerPtr logger = LayerLogger("Sharemapper.KeyStore");
  return logger;
}

// A prepared statement, finalised when it goes out of scope. A failed bind
// is kept and answered by the next Step.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  // One of the connection's cached statements: borrowed, and reset and
  // unbound again when it goes out of scope.
  Statement(StatementCache& cache, sqlite3* db, const char* sql) : cached_(true) {
    rc_ = cache.Get(db, sql, stmt_);
  }
  ~Statement() {
    if (!cached_) {
      sqlite3_finalize(stmt_);
    } else if (stmt_ != nullptr) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Bind(int index, std::int64_t value) { Keep(sqlite3_bind_int64(stmt_, index, value)); }
  void Bind(int index, const std::string& text) {
    Keep(sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }
  void BindBlob(int index, const char* data, std::uint32_t size) {
    // A null pointer would bind NULL rather than an empty blob.
    Keep(sqlite3_bind_blob64(stmt_, index, data != nullptr ? data : "", size, SQLITE_TRANSIENT));
  }
  int Step() { return rc_ != SQLITE_OK ? rc_ : sqlite3_step(stmt_); }

  std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  bool IsNull(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  std::string Bytes(int column) {
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data != nullptr ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                           : std::string();
  }

 private:
  void Keep(int rc) {
    if (rc_ == SQLITE_OK) rc_ = rc;
  }
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
  bool cached_ = false;
};

// Runs a statement that answers one integer (a pragma, a count).
int QueryInt(sqlite3* db, const char* sql, std::int64_t& value) {
  Statement statement(db, sql);
  const int rc = statement.Step();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
  value = statement.Int(0);
  return SQLITE_OK;
}

std::string FolderOf(const std::string& file) { return file.substr(0, file.rfind('/')); }

// mkdir -p with mode 0700 for every folder it makes, whatever the umask.
int MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string prefix = folder.substr(0, slash);
    const int error = MakePrivateFolder(prefix);
    if (error != 0 && error != EEXIST) return error;
    if (slash == std::string::npos) return 0;
  }
}

// A folder or file of the store must be the user's own and no symbolic link,
// so that nobody else can read the keys or redirect writes elsewhere.
const char* Unacceptable(const struct stat& st, bool folder) {
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) return folder ? "is not a folder" : "is not a file";
  if (st.st_uid != ::geteuid()) return "belongs to another user";
  return nullptr;
}

}  // namespace

// Windows error numbers for SQLite's results, as RegXxx would answer:
//   BUSY, LOCKED, PROTOCOL (another run held the store too long) -> 170 ERROR_BUSY
//   READONLY, PERM, AUTH (the file cannot be written)          -> 5    ERROR_ACCESS_DENIED
//   NOMEM, IOERR_NOMEM                                          -> 8    ERROR_NOT_ENOUGH_MEMORY
//   FULL (no room on the disk)                                  -> 112  ERROR_DISK_FULL
//   TOOBIG, RANGE (a name or value too large)                   -> 87   ERROR_INVALID_PARAMETER
//   NOTADB, CORRUPT, FORMAT, SCHEMA, ERROR (not a sound store)  -> 1009 ERROR_BADDB
//   CANTOPEN (file or journal cannot be opened)                 -> 1011 ERROR_CANTOPEN
//   IOERR_READ, IOERR_SHORT_READ                                -> 1012 ERROR_CANTREAD
//   IOERR_WRITE, FSYNC, DIR_FSYNC, TRUNCATE                     -> 1013 ERROR_CANTWRITE
//   any other IOERR or result                                   -> 1016 ERROR_REGISTRY_IO_FAILED
ErrorCode MapSqliteError(int rc) {
  switch (rc) {
    case SQLITE_OK: return err::kSuccess;
    case SQLITE_IOERR_NOMEM: return err::kNotEnoughMemory;
    case SQLITE_IOERR_READ:
    case SQLITE_IOERR_SHORT_READ: return err::kCantRead;
    case SQLITE_IOERR_WRITE:
    case SQLITE_IOERR_FSYNC:
    case SQLITE_IOERR_DIR_FSYNC:
    case SQLITE_IOERR_TRUNCATE: return err::kCantWrite;
    default: break;
  }
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL: return err::kBusy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return err::kAccessDenied;
    case SQLITE_NOMEM: return err::kNotEnoughMemory;
    case SQLITE_FULL: return err::kDiskFull;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE: return err::kInvalidParameter;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR: return err::kBadDb;
    case SQLITE_CANTOPEN: return err::kCantOpen;
    default: return err::kRegistryIoFailed;
  }
}

KeyStore::~KeyStore() { Close(); }

void KeyStore::Close() {
  ForgetKeys();  // another connection's versions say nothing about them
  statements_.Clear();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  readOnly_ = false;
}

std::string KeyStore::ResolvePath() {
  // Relative XDG_CONFIG_HOME values are ignored, as the XDG rules ask.
  std::string base;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    std::string folder = home != nullptr && home[0] == '/' ? home : "";
    if (folder.empty()) {
      struct passwd entry {};
      struct passwd* found = nullptr;
      std::vector<char> buffer(16384);
      if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
          found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        folder = found->pw_dir;
      }
    }
    if (folder.empty()) return std::string();
    base = folder + "/.config";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/" + kFolderName + "/" + kFileName;
}

ErrorCode KeyStore::Refuse(ErrorCode code, const std::string& what) {
  LOG4CXX_ERROR(Logger(), "key store " << (file_.empty() ? std::string("(no location)") : file_) << ": " << what
                                       << " (Windows error " << code << ")");
  return code;
}

ErrorCode KeyStore::Fail(int rc, const char* what) {
  std::ostringstream text;
  text << what << ": " << sqlite3_errstr(rc);
  if (db_ != nullptr && sqlite3_extended_errcode(db_) == rc) {
    const char* detail = sqlite3_errmsg(db_);
    if (detail != nullptr && std::strcmp(detail, sqlite3_errstr(rc)) != 0) text << " (" << detail << ")";
  }
  return Refuse(MapSqliteError(rc), text.str());
}

KeyStore::State KeyStore::Open(Need need, ErrorCode& code) {
  code = err::kSuccess;
  if (db_ != nullptr) {
    if (need == Need::kWrite && readOnly_) {
      code = Refuse(err::kAccessDenied, "the file cannot be written (read-only); nothing was changed");
      return State::kFailed;
    }
    return State::kOpen;
  }

  file_ = ResolvePath();
  if (file_.empty()) {
    code = Refuse(err::kPathNotFound, "no home folder to keep the key store in");
    return State::kFailed;
  }
  const std::string folder = FolderOf(file_);

  // Until something is written there is no store: reading finds no keys, and
  // a run that only reads leaves no folder or file behind.
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      code = Refuse(ErrnoToWindows(errno), "cannot look at the folder " + folder + ": " + std::strerror(errno));
      return State::kFailed;
    }
    if (need == Need::kRead) return State::kAbsent;
    const int error = MakeFolders(folder);
    if (error != 0 || ::lstat(folder.c_str(), &st) != 0) {
      const int reason = error != 0 ? error : errno;
      code = Refuse(ErrnoToWindows(reason), "cannot create the folder " + folder + ": " + std::strerror(reason));
      return State::kFailed;
    }
  }
  if (const char* why = Unacceptable(st, true)) {
    code = Refuse(err::kAccessDenied, "the folder " + folder + " " + why + "; refusing to use it");
    return State::kFailed;
  }
  if (!RestoreOwnerRights(folder, st, Logger())) {
    code = Refuse(ErrnoToWindows(errno), "cannot give the folder " + folder + " its owner's rights back: " +
                                             std::strerror(errno));
    return State::kFailed;
  }
  if ((st.st_mode & 077) != 0) ::chmod(folder.c_str(), 0700);  // best effort: keep others out

  if (::lstat(file_.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      code = Refuse(ErrnoToWindows(errno), std::string("cannot look at the file: ") + std::strerror(errno));
      return State::kFailed;
    }
    if (need == Need::kRead) return State::kAbsent;
    // Another run may create it at the same moment; either one's empty file
    // does, and the layout is then made under the store's write lock.
    const int error = CreatePrivateFile(file_);
    if (error != 0 && error != EEXIST) {
      code = Refuse(ErrnoToWindows(error), std::string("cannot create the file: ") + std::strerror(error));
      return State::kFailed;
    }
    if (::lstat(file_.c_str(), &st) != 0) {
      code = Refuse(ErrnoToWindows(errno), std::string("cannot look at the file: ") + std::strerror(errno));
      return State::kFailed;
    }
  }
  if (const char* why = Unacceptable(st, false)) {
    code = Refuse(err::kAccessDenied, std::string("the file ") + why + "; refusing to use it");
    return State::kFailed;
  }
  if (!RestoreOwnerRights(file_, st, Logger())) {
    code = Refuse(ErrnoToWindows(errno), std::string("cannot give the file its owner's rights back: ") +
                                             std::strerror(errno));
    return State::kFailed;
  }
  RestoreCompanionRights(file_, Logger());

  bool empty = false;
  code = OpenDatabase(file_, empty);
  if (code == err::kSuccess && empty) {
    if (readOnly_) {
      Close();
      if (need == Need::kRead) return State::kAbsent;
      code = Refuse(err::kAccessDenied, "the file cannot be written (read-only); nothing was changed");
      return State::kFailed;
    }
    code = Initialise();
  }
  if (code != err::kSuccess) {
    Close();
    return State::kFailed;
  }
  ChooseJournal();
  if (need == Need::kWrite && readOnly_) {
    code = Refuse(err::kAccessDenied, "the file cannot be written (read-only); nothing was changed");
    return State::kFailed;
  }
  return State::kOpen;
}

// Commits go to a write-ahead log where the file system allows it (see
// UseWriteAheadLog): a run that records a drive makes four commits here,
// sixteen fsyncs with a rollback journal and three with the log. The
// Windows registry gives no more durability than the log does: it writes
// its hives lazily, and RegFlushKey is there for callers that need more.
void KeyStore::ChooseJournal() {
  if (!readOnly_) UseWriteAheadLog(db_, file_, kBusyTimeoutMs);
}

ErrorCode KeyStore::OpenDatabase(const std::string& file, bool& empty) {
  // Never SQLITE_OPEN_CREATE: the file exists by now, and a file that turns
  // out not to be a store is only ever read. A file that cannot be opened
  // for writing is opened read-only by SQLite itself.
  const int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc != SQLITE_OK) {
    const ErrorCode code = Fail(rc, "cannot open the file");
    Close();
    return code;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  readOnly_ = sqlite3_db_readonly(db_, "main") == 1;
  if (readOnly_ && !ReadableAsItIs()) ReopenImmutable(file);
  return CheckHeader(empty);
}

// A store in write-ahead log mode is read through the log's index, which a
// run that can write neither the file nor its folder cannot create. SQLite
// then cannot open it at all.
bool KeyStore::ReadableAsItIs() {
  std::int64_t version = 0;
  return (QueryInt(db_, "PRAGMA user_version", version) & 0xFF) != SQLITE_CANTOPEN;
}

// Such a store is read as an immutable file instead: without locks and
// without the log. That is exact when the log holds no commits that are not
// in the file yet (it is empty or absent), the state every run leaves the
// store in; and nobody can change a file that cannot be written, in a
// folder where its log cannot be made. With a log that still holds commits,
// the store stays unreadable (as with a rollback journal left behind by a
// crash).
void KeyStore::ReopenImmutable(const std::string& file) {
  struct stat st {};
  const std::string log = file + "-wal";
  if (::lstat(log.c_str(), &st) == 0 && st.st_size > 0) return;
  std::string uri = "file:";
  for (const char c : file) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      uri += c;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  uri += "?immutable=1";
  sqlite3* immutable = nullptr;
  const int rc = sqlite3_open_v2(uri.c_str(), &immutable,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(immutable);
    return;
  }
  Close();
  db_ = immutable;
  readOnly_ = true;
  sqlite3_extended_result_codes(db_, 1);
  LOG4CXX_DEBUG(Logger(), "key store " << file << ": read as an immutable file (it and its folder are read-only)");
}

ErrorCode KeyStore::CheckHeader(bool& empty) {
  std::int64_t application = 0;
  std::int64_t version = 0;
  std::int64_t objects = 0;
  // All three in one read transaction: read apart, they could straddle
  // another run's setting up of the store and seem to disagree.
  const bool ownTransaction = sqlite3_get_autocommit(db_) != 0;
  int rc = ownTransaction ? Run("BEGIN") : SQLITE_OK;
  if (rc == SQLITE_OK) rc = QueryInt(db_, "PRAGMA application_id", application);
  if (rc == SQLITE_OK) rc = QueryInt(db_, "PRAGMA user_version", version);
  if (rc == SQLITE_OK) rc = QueryInt(db_, "SELECT count(*) FROM sqlite_master", objects);
  if (ownTransaction) Rollback();
  if (rc != SQLITE_OK) return Fail(rc, "cannot read the file as a key store; it is left as it is");

  empty = application == 0 && version == 0 && objects == 0;
  if (empty) return err::kSuccess;
  if (application != kApplicationId) {
    return Refuse(err::kBadDb, "the file is not a Sharemapper key store; it is left as it is");
  }
  if (version != kSchemaVersion) {
    return Refuse(err::kBadDb, "the file has a key store layout this program does not know (version " +
                                   std::to_string(version) + "); it is left as it is");
  }
  return err::kSuccess;
}

ErrorCode KeyStore::Initialise() {
  int rc = Run("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return Fail(rc, "cannot set up the new key store");
  // Another run may have set it up while this one waited for the lock.
  bool empty = false;
  const ErrorCode code = CheckHeader(empty);
  if (code != err::kSuccess || !empty) {
    Rollback();
    return code;
  }
  rc = Exec(kSchema);
  if (rc == SQLITE_OK) rc = Run("COMMIT");
  if (rc != SQLITE_OK) {
    Rollback();
    return Fail(rc, "cannot set up the new key store");
  }
  return err::kSuccess;
}

int KeyStore::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

// BEGIN, COMMIT and ROLLBACK, from the cache like every other statement.
int KeyStore::Run(const char* sql) {
  Statement statement(statements_, db_, sql);
  const int rc = statement.Step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void KeyStore::Rollback() {
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) Run("ROLLBACK");
}

// Ends a transaction; on failure (another run still reading after the busy
// timeout, no room for the journal...) nothing of it stays.
int KeyStore::Commit() {
  const int rc = Run("COMMIT");
  if (rc != SQLITE_OK) Rollback();
  return rc;
}

int KeyStore::LookUpChild(KeyId parent, const std::string& name, KeyId& child, bool& exists) {
  Statement statement(statements_, db_, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
  statement.Bind(1, parent);
  statement.Bind(2, name);
  const int rc = statement.Step();
  exists = rc == SQLITE_ROW;
  if (exists) child = statement.Int(0);
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int KeyStore::LookUp(const std::vector<std::string>& path, KeyId& id, std::size_t& found) {
  id = kRootKey;
  found = 0;
  for (const std::string& name : path) {
    bool exists = false;
    const int rc = LookUpChild(id, name, id, exists);
    if (rc != SQLITE_OK || !exists) return rc;
    ++found;
  }
  return SQLITE_OK;
}

// Whether this connection has learnt the key `folded` names, and its id.
// SQLite's data_version changes exactly when another connection has
// committed since it was last asked, so ids learnt under the same value
// still name the same keys (ids are never reused, and this connection
// forgets them itself when it deletes a key).
int KeyStore::KnownKey(const std::string& folded, KeyId& id, bool& known) {
  Statement statement(statements_, db_, "PRAGMA data_version");
  const int rc = statement.Step();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_ERROR : rc;
  const std::int64_t version = statement.Int(0);
  if (version != knownVersion_) {
    knownKeys_.clear();
    knownVersion_ = version;
  }
  const auto found = knownKeys_.find(folded);
  known = found != knownKeys_.end();
  if (known) id = found->second;
  return SQLITE_OK;
}

void KeyStore::ForgetKeys() {
  knownKeys_.clear();
  knownVersion_ = -1;
}

int KeyStore::KeyExists(KeyId key, bool& exists) {
  Statement statement(statements_, db_, "SELECT 1 FROM keys WHERE id = ?1");
  statement.Bind(1, key);
  const int rc = statement.Step();
  exists = rc == SQLITE_ROW;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

ErrorCode KeyStore::FindKey(const std::vector<std::string>& path, KeyId& id) {
  ErrorCode code = err::kSuccess;
  switch (Open(Need::kRead, code)) {
    case State::kFailed: return code;
    case State::kAbsent:
      id = kRootKey;
      return path.empty() ? err::kSuccess : err::kFileNotFound;
    case State::kOpen: break;
  }
  // The path as NOCASE compares it: ASCII letters folded, nothing else.
  std::string folded;
  for (const std::string& name : path) {
    folded += '\\';
    for (const char c : name) folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  KeyId last = kRootKey;
  bool known = false;
  int rc = KnownKey(folded, last, known);
  if (rc == SQLITE_OK && !known) {
    // Looked up, and learnt, in the same read transaction as the version.
    rc = Run("BEGIN");
    if (rc == SQLITE_OK) rc = KnownKey(folded, last, known);
    if (rc == SQLITE_OK && !known) {
      std::size_t found = 0;
      rc = LookUp(path, last, found);
      if (rc == SQLITE_OK && found == path.size()) {
        knownKeys_.emplace(folded, last);
        known = true;
      }
    }
    Rollback();
  }
  if (rc != SQLITE_OK) return Fail(rc, "cannot read a key");
  if (!known) return err::kFileNotFound;
  id = last;
  return err::kSuccess;
}

// The key is looked up under the write lock even when it exists already:
// when another run is deleting it at that moment, it is then made anew
// instead of being handed out as it goes (the value written to it next
// would find it gone). A write transaction that changes nothing costs no
// fsync. Only a store that cannot be written is merely searched.
ErrorCode KeyStore::CreateKey(const std::vector<std::string>& path, KeyId& id) {
  ErrorCode code = err::kSuccess;
  const State state = Open(Need::kRead, code);
  if (state == State::kFailed) return code;
  if (state == State::kOpen && readOnly_) {
    code = FindKey(path, id);
    if (code != err::kFileNotFound) return code;
  }
  if (Open(Need::kWrite, code) == State::kFailed) return code;

  int rc = Run("BEGIN IMMEDIATE");
  std::size_t found = 0;
  KeyId key = kRootKey;
  if (rc == SQLITE_OK) rc = LookUp(path, key, found);
  for (std::size_t i = found; rc == SQLITE_OK && i < path.size(); ++i) {
    Statement statement(statements_, db_, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
    statement.Bind(1, key);
    statement.Bind(2, path[i]);
    rc = statement.Step();
    if (rc == SQLITE_DONE) {
      rc = SQLITE_OK;
      key = sqlite3_last_insert_rowid(db_);
    }
  }
  if (rc == SQLITE_OK) rc = Commit();
  if (rc != SQLITE_OK) {
    Rollback();
    return Fail(rc, "cannot create a key");
  }
  id = key;
  return err::kSuccess;
}

ErrorCode KeyStore::DeleteKey(const std::vector<std::string>& path) {
  if (path.empty()) return err::kAccessDenied;  // the root stays
  KeyId key = kRootKey;
  ErrorCode code = FindKey(path, key);
  if (code != err::kSuccess) return code;
  if (Open(Need::kWrite, code) == State::kFailed) return code;

  int rc = Run("BEGIN IMMEDIATE");
  std::size_t found = 0;
  if (rc == SQLITE_OK) rc = LookUp(path, key, found);
  if (rc == SQLITE_OK && found != path.size()) code = err::kFileNotFound;
  if (rc == SQLITE_OK && code == err::kSuccess) {
    Statement children(statements_, db_, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    children.Bind(1, key);
    rc = children.Step();
    if (rc == SQLITE_ROW) code = err::kAccessDenied;  // a key with subkeys stays
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc == SQLITE_OK && code == err::kSuccess) {
    Statement values(statements_, db_, "DELETE FROM key_values WHERE key = ?1");
    values.Bind(1, key);
    rc = values.Step();
    if (rc == SQLITE_DONE) {
      Statement row(statements_, db_, "DELETE FROM keys WHERE id = ?1");
      row.Bind(1, key);
      rc = row.Step();
    }
    if (rc == SQLITE_DONE) rc = Commit();
  }
  Rollback();
  ForgetKeys();
  if (rc != SQLITE_OK) return Fail(rc, "cannot delete a key");
  return code;
}

ErrorCode KeyStore::SetValue(KeyId key, const std::string& name, std::uint32_t type, const char* data,
                             std::uint32_t size) {
  ErrorCode code = err::kSuccess;
  const State state = Open(Need::kRead, code);
  if (state == State::kFailed) return code;
  if (state == State::kAbsent && key != kRootKey) return err::kKeyDeleted;
  if (Open(Need::kWrite, code) == State::kFailed) return code;

  bool exists = false;
  int rc = Run("BEGIN IMMEDIATE");
  if (rc == SQLITE_OK) rc = KeyExists(key, exists);
  if (rc == SQLITE_OK && exists) {
    Statement statement(statements_, db_,
                        "INSERT INTO key_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                        " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    statement.Bind(1, key);
    statement.Bind(2, name);
    statement.Bind(3, static_cast<std::int64_t>(type));
    statement.BindBlob(4, data, size);
    rc = statement.Step();
    if (rc == SQLITE_DONE) rc = Commit();
  }
  Rollback();
  if (rc != SQLITE_OK) return Fail(rc, "cannot write a value");
  return exists ? err::kSuccess : err::kKeyDeleted;
}

ErrorCode KeyStore::QueryValue(KeyId key, const std::string& name, std::uint32_t& type, std::string& data) {
  ErrorCode code = err::kSuccess;
  switch (Open(Need::kRead, code)) {
    case State::kFailed: return code;
    case State::kAbsent: return key == kRootKey ? err::kFileNotFound : err::kKeyDeleted;
    case State::kOpen: break;
  }
  // One statement, so one read transaction: a row when the key exists,
  // with the value's columns null when it has no such value.
  Statement statement(statements_, db_,
                      "SELECT v.type, v.data FROM keys AS k"
                      " LEFT JOIN key_values AS v ON v.key = k.id AND v.name = ?2 WHERE k.id = ?1");
  statement.Bind(1, key);
  statement.Bind(2, name);
  const int rc = statement.Step();
  if (rc == SQLITE_DONE) return err::kKeyDeleted;
  if (rc != SQLITE_ROW) return Fail(rc, "cannot read a value");
  if (statement.IsNull(0)) return err::kFileNotFound;
  type = static_cast<std::uint32_t>(statement.Int(0));
  data = statement.Bytes(1);
  return err::kSuccess;
}

ErrorCode KeyStore::EnumKey(KeyId key, std::uint32_t index, std::string& name) {
  ErrorCode code = err::kSuccess;
  switch (Open(Need::kRead, code)) {
    case State::kFailed: return code;
    case State::kAbsent: return key == kRootKey ? err::kNoMoreItems : err::kKeyDeleted;
    case State::kOpen: break;
  }
  bool exists = false;
  int rc = Run("BEGIN");
  if (rc == SQLITE_OK) rc = KeyExists(key, exists);
  if (rc == SQLITE_OK && exists) {
    Statement statement(statements_, db_, "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    statement.Bind(1, key);
    statement.Bind(2, static_cast<std::int64_t>(index));
    rc = statement.Step();
    if (rc == SQLITE_ROW) {
      name = statement.Bytes(0);
      rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
      code = err::kNoMoreItems;
      rc = SQLITE_OK;
    }
  }
  Rollback();
  if (rc != SQLITE_OK) return Fail(rc, "cannot list subkeys");
  return exists ? code : err::kKeyDeleted;
}

}  // namespace posix
}  // namespace platform

// The registry on Linux: key handles and the Windows calling conventions on
// top of the per-user key store, one SQLite file (README, "Where Linux keeps
// its state"). Each operation is one transaction, or one savepoint of a
// group's, so several runs may use the store at once; a store that cannot be
// written is still read. Failures are Windows numbers, each also described
// on the logger "Sharemapper.KeyStore".
#include "platform/posix/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <map>

#include "log/diag_logger.h"
#include "platform/posix/private_files.h"
#include "platform/posix/sqlite_util.h"
#include "platform/registry.h"

namespace platform {
namespace {

using posix::Statement;
using KeyId = std::int64_t;

constexpr KeyId kRootKey = 1;  // present in every store
constexpr int kBusyTimeoutMs = 10000;  // how long to wait for another run
constexpr std::int64_t kApplicationId = 0x534D5247;  // "SMRG"
constexpr std::int64_t kSchemaVersion = 2;
constexpr std::size_t kMaxKeyName = 255;  // the Windows registry's limits
constexpr std::size_t kMaxValueName = 16383;

// Keys are rows keyed by their full path below the root ("Software\Tests",
// the root ''), compared as NOCASE does: ASCII letters folded, nothing else.
// Each keeps the case it was created with. Ids are never reused, so a handle
// to a deleted key cannot come to name a newer one.
const char* const kSchema =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT NOT NULL UNIQUE COLLATE NOCASE,"
    " parent TEXT COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE);"
    "CREATE INDEX keys_by_parent ON keys(parent, name);"
    "CREATE TABLE key_values(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT INTO keys(id, path, parent, name) VALUES(1, '', NULL, '');"
    "PRAGMA application_id = 1397576263;"
    "PRAGMA user_version = 2;";

const log4cxx::LoggerPtr& Logger() {
  static const log4cxx::LoggerPtr logger = VkSharemapper::diag::GetLogger("Sharemapper.KeyStore");
  return logger;
}

// The store file of this environment; "" for none.
std::string ResolvePath() {
  const std::string folder = posix::PrivateFolderPath(posix::PrivateFolder::kConfig);
  return folder.empty() ? folder : folder + "/registry.db";
}

// SQLite's result of a step: a row or the end of the rows is success.
int Stepped(int rc) { return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc; }

// Windows hands names over as zero-terminated strings.
std::string CName(const std::string& text) { return std::string(text.c_str()); }

// A key path without its one allowed trailing backslash; an empty name
// anywhere else, or one longer than the registry allows, is refused.
ErrorCode KeyPath(const std::string& text, std::string& path) {
  path = CName(text);
  if (!path.empty() && path.back() == '\\') path.pop_back();
  for (std::size_t start = 0; !path.empty();) {
    const std::size_t end = path.find('\\', start);
    const std::size_t length = (end == std::string::npos ? path.size() : end) - start;
    if (length == 0 || length > kMaxKeyName) return err::kInvalidParameter;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return err::kSuccess;
}

class PosixRegistry : public Registry {
 public:
  ErrorCode CreateKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    return Opened(path, access, key, true);
  }

  ErrorCode OpenKey(const std::string& path, std::uint32_t access, KeyHandle& key) override {
    return Opened(path, access, key, false);
  }

  // A key other than the root that has no store any more is gone; the root
  // makes the store.
  ErrorCode SetValue(KeyHandle key, const std::string& name, std::uint32_t type, const char* data,
                     std::uint32_t size) override {
    KeyId id = 0;
    ErrorCode code = Resolve(key, id);
    const std::string valueName = CName(name);
    if (code == err::kSuccess && (valueName.size() > kMaxValueName || (data == nullptr && size != 0))) {
      code = err::kInvalidParameter;
    }
    if (code != err::kSuccess) return code;
    if (id != kRootKey && !Open(false, code)) return code != err::kSuccess ? code : err::kKeyDeleted;
    return Transact(true, err::kKeyDeleted, "cannot write a value", [&](int& rc) {
      if (!Exists(id, rc)) return err::kKeyDeleted;
      Statement set(db_,
                    "INSERT INTO key_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                    " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
      rc = Stepped(set.Bind(1, id).Bind(2, valueName).Bind(3, std::int64_t{type}).BindBlob(4, data, size).Step());
      return err::kSuccess;
    });
  }

  ErrorCode QueryValue(KeyHandle key, const std::string& name, std::uint32_t& type, char* buffer,
                       std::uint32_t& size) override {
    KeyId id = 0;
    std::string data;
    ErrorCode code = Resolve(key, id);
    if (code != err::kSuccess) return code;
    code = Transact(false, id == kRootKey ? err::kFileNotFound : err::kKeyDeleted, "cannot read a value", [&](int& rc) {
      if (!Exists(id, rc)) return err::kKeyDeleted;
      Statement value(db_, "SELECT type, data FROM key_values WHERE key = ?1 AND name = ?2");
      rc = value.Bind(1, id).Bind(2, CName(name)).Step();
      if (rc != SQLITE_ROW) return err::kFileNotFound;
      type = static_cast<std::uint32_t>(value.Int(0));
      data = value.Bytes(1);
      return err::kSuccess;
    });
    if (code != err::kSuccess) return code;
    const auto needed = static_cast<std::uint32_t>(data.size());
    code = buffer != nullptr && size < needed ? err::kMoreData : err::kSuccess;
    if (code == err::kSuccess && buffer != nullptr && needed != 0) std::memcpy(buffer, data.data(), needed);
    size = needed;
    return code;
  }

  // Subkeys are listed in name order, ignoring ASCII case.
  ErrorCode EnumKey(KeyHandle key, std::uint32_t index, char* name, std::uint32_t& size) override {
    KeyId id = 0;
    std::string subkey;
    ErrorCode code = Resolve(key, id);
    if (code == err::kSuccess && name == nullptr) code = err::kInvalidParameter;
    if (code != err::kSuccess) return code;
    code = Transact(false, id == kRootKey ? err::kNoMoreItems : err::kKeyDeleted, "cannot list subkeys", [&](int& rc) {
      Statement path(db_, "SELECT path FROM keys WHERE id = ?1");
      rc = path.Bind(1, id).Step();
      if (rc != SQLITE_ROW) return err::kKeyDeleted;
      Statement child(db_, "SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
      rc = child.Bind(1, path.Bytes(0)).Bind(2, std::int64_t{index}).Step();
      if (rc != SQLITE_ROW) return err::kNoMoreItems;
      subkey = child.Bytes(0);
      return err::kSuccess;
    });
    if (code != err::kSuccess) return code;
    if (subkey.size() >= size) return err::kMoreData;  // no room for name and terminator
    std::memcpy(name, subkey.c_str(), subkey.size() + 1);
    size = static_cast<std::uint32_t>(subkey.size());
    return err::kSuccess;
  }

  // A key with subkeys stays; with no store there is nothing to delete, and
  // none is made for it.
  ErrorCode DeleteKey(const std::string& text) override {
    std::string path;
    KeyId id = kRootKey;
    ErrorCode code = KeyPath(text, path);
    if (code == err::kSuccess && path.empty()) code = err::kAccessDenied;
    if (code == err::kSuccess) code = Find(path, id);
    if (code != err::kSuccess) return code;
    return Transact(true, err::kFileNotFound, "cannot delete a key", [&](int& rc) {
      if (!Look(path, id, rc)) return err::kFileNotFound;
      Statement children(db_, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
      rc = children.Bind(1, path).Step();
      if (rc == SQLITE_ROW) rc = SQLITE_OK;
      if (rc != SQLITE_DONE) return err::kAccessDenied;
      Statement values(db_, "DELETE FROM key_values WHERE key = ?1");
      Statement row(db_, "DELETE FROM keys WHERE id = ?1");
      rc = Stepped(values.Bind(1, id).Step());
      if (rc == SQLITE_OK) rc = Stepped(row.Bind(1, id).Step());
      return err::kSuccess;
    });
  }

  ErrorCode CloseKey(KeyHandle key) override {
    return handles_.erase(key) == 1 ? err::kSuccess : err::kInvalidHandle;
  }

  // The group's transaction: IMMEDIATE for writes, so that its calls never
  // wait for the lock half-way. A group of reads finds no store when there
  // is none; its calls then answer as they would alone.
  ErrorCode BeginGroup(bool write) override {
    ErrorCode code = err::kSuccess;
    if (groupDepth_ > 0) {
      ++groupDepth_;
      return code;
    }
    if (Open(write, code)) {
      const int rc = group_.Begin(write);
      if (rc != SQLITE_OK) return Fail(rc, "cannot begin a group of calls");
    } else if (code != err::kSuccess) {
      return code;
    }
    groupDepth_ = 1;
    groupWrites_ = write;
    groupFailure_ = err::kSuccess;
    return code;
  }

  // The commit may still fail (a full disk, say): then nothing of the group
  // stays. So too when SQLite gave the group's transaction up after a
  // failed call; that call's failure is the answer then.
  ErrorCode EndGroup() override {
    if (groupDepth_ == 0 || --groupDepth_ > 0) return err::kSuccess;
    const int rc = group_.Commit();
    if (rc != SQLITE_OK) return Fail(rc, "cannot commit a group of calls; none of them stays");
    return groupFailure_;
  }

  // The next operation finds the store anew from the environment.
  void Reset() {
    group_.Rollback();
    groupDepth_ = 0;
    db_.Close();
    handles_.clear();
  }

 private:
  ErrorCode Opened(const std::string& text, std::uint32_t, KeyHandle& key, bool create) {
    std::string path;
    KeyId id = kRootKey;
    ErrorCode code = KeyPath(text, path);
    if (code == err::kSuccess) code = create ? Create(path, id) : Find(path, id);
    if (code == err::kSuccess) {
      key = nextHandle_;
      nextHandle_ += 4;
      handles_[key] = id;
    }
    return code;
  }

  ErrorCode Resolve(KeyHandle key, KeyId& id) const {
    const auto found = handles_.find(key);
    if (found == handles_.end()) return err::kInvalidHandle;
    id = found->second;
    return err::kSuccess;
  }

  ErrorCode Find(const std::string& path, KeyId& id) {
    if (path.empty()) id = kRootKey;
    return Transact(false, path.empty() ? err::kSuccess : err::kFileNotFound, "cannot read a key",
                    [&](int& rc) { return Look(path, id, rc) ? err::kSuccess : err::kFileNotFound; });
  }

  // The key and its missing parents. It is looked up under the write lock
  // even when it exists already: when another run is deleting it at that
  // moment, it is then made anew instead of being handed out as it goes. A
  // write transaction that changes nothing costs no fsync. A store that
  // cannot be written is only searched.
  ErrorCode Create(const std::string& path, KeyId& id) {
    ErrorCode code = err::kSuccess;
    if (!Open(false, code) && code != err::kSuccess) return code;
    if (db_.IsOpen() && db_.ReadOnly() && (code = Find(path, id)) != err::kFileNotFound) return code;
    return Transact(true, err::kSuccess, "cannot create a key", [&](int& rc) {
      for (std::size_t end = 0; rc == SQLITE_OK && !Look(path, id, rc) && end != std::string::npos;) {
        const std::size_t start = end == 0 ? 0 : end + 1;
        end = path.find('\\', start);
        Statement insert(db_, "INSERT INTO keys(path, parent, name) VALUES(?1, ?2, ?3) ON CONFLICT(path) DO NOTHING");
        insert.Bind(1, path.substr(0, end)).Bind(2, path.substr(0, start == 0 ? 0 : start - 1));
        rc = Stepped(insert.Bind(3, path.substr(start, end - start)).Step());
      }
      return err::kSuccess;
    });
  }

  // Runs `body` in one transaction (for a write holding the write lock from
  // its start), or in a savepoint of the group's, and commits it; on a
  // failure of SQLite's nothing of it stays. `body` leaves SQLite's result
  // in `rc`: its answer counts unless that is a failure. `absent` is the
  // answer when there is no store. A write in a group of reads goes alone,
  // between two snapshots of the group.
  template <typename Body>
  ErrorCode Transact(bool write, ErrorCode absent, const char* what, Body body) {
    ErrorCode code = err::kSuccess;
    if (!Open(write, code)) return code != err::kSuccess ? code : absent;
    const bool alone = write && group_.Open() && !groupWrites_;
    if (alone) group_.Commit();
    int rc = SQLITE_OK;
    {
      posix::Transaction transaction(db_);
      rc = transaction.Begin(write);
      if (rc == SQLITE_OK) code = body(rc);
      if (Stepped(rc) == SQLITE_OK) rc = transaction.Commit();
    }
    if (alone) group_.Begin(false);
    if (rc == SQLITE_OK) return code;
    code = Fail(rc, what);
    if (group_.Open() && !db_.InTransaction()) {
      group_.Rollback();
      groupFailure_ = code;
    }
    return code;
  }

  // The store, opened on first use: false with `code` set on a failure, or
  // 0 when there is none yet and nothing is to be written. Until something
  // is written there is no store: a run that only reads leaves no folder or
  // file behind.
  bool Open(bool write, ErrorCode& code) {
    code = err::kSuccess;
    if (!db_.IsOpen()) {
      file_ = ResolvePath();
      bool absent = false;
      std::string why = "no home folder to keep the key store in";
      code = file_.empty() ? err::kPathNotFound : posix::PreparePrivateFile(file_, write, absent, why, Logger());
      if (code != err::kSuccess) Refuse(code, why);
      // Here `absent` may also be an empty file that cannot be written.
      if (code == err::kSuccess && !absent) code = OpenDatabase(absent);
      if (code != err::kSuccess || absent) db_.Close();
      if (code != err::kSuccess || (absent && !write)) return false;
    }
    if (write && (!db_.IsOpen() || db_.ReadOnly())) {
      code = Refuse(err::kAccessDenied, "the file cannot be written (read-only); nothing was changed");
      return false;
    }
    return true;
  }

  // Opens the existing file and sets up an empty one. A file that is no
  // store is only ever read.
  ErrorCode OpenDatabase(bool& absent) {
    int rc = db_.Open(file_, kBusyTimeoutMs);
    if (rc != SQLITE_OK) return Fail(rc, "cannot open the file");
    // A store in write-ahead log mode is read through the log's index, which
    // a run that can write neither the file nor its folder cannot create.
    // It is then read as an immutable file instead, which is exact when the
    // log holds no commits (it is empty or absent, as every run leaves it).
    const bool indexless =
        db_.ReadOnly() && (Statement(db_, "PRAGMA user_version").Step() & 0xFF) == SQLITE_CANTOPEN;
    struct stat st {};
    const bool logged = ::lstat((file_ + "-wal").c_str(), &st) == 0 && st.st_size > 0;
    if (indexless && !logged && db_.OpenImmutable(file_) == SQLITE_OK) {
      LOG4CXX_DEBUG(Logger(), "key store " << file_ << ": read as an immutable file (it and its folder are read-only)");
    }
    bool empty = false;
    ErrorCode code = CheckLayout(empty);
    if (code == err::kSuccess && db_.ReadOnly()) absent = empty;
    if (code != err::kSuccess || db_.ReadOnly()) return code;
    if (empty) {
      posix::Transaction setup(db_);
      rc = setup.Begin(true);
      // Another run may have done it while this one waited for the lock.
      if (rc == SQLITE_OK) code = CheckLayout(empty);
      if (rc == SQLITE_OK && code == err::kSuccess && empty) rc = db_.Exec(kSchema);
      if (rc == SQLITE_OK && code == err::kSuccess) rc = setup.Commit();
      if (rc != SQLITE_OK) return Fail(rc, "cannot set up the key store");
    }
    if (code == err::kSuccess) db_.UseWriteAheadLog(file_);
    return code;
  }

  // One statement, so one read transaction: read apart, the three could
  // straddle another run's setting up of the store and seem to disagree.
  ErrorCode CheckLayout(bool& empty) {
    Statement layout(db_, "SELECT a.application_id, u.user_version, (SELECT count(*) FROM sqlite_master)"
                          " FROM pragma_application_id AS a, pragma_user_version AS u");
    const int rc = layout.Step();
    if (rc != SQLITE_ROW) {
      return Fail(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, "cannot read the file as a key store; it is left as it is");
    }
    const std::int64_t version = layout.Int(1);
    empty = layout.Int(0) == 0 && version == 0 && layout.Int(2) == 0;
    if (!empty && layout.Int(0) != kApplicationId) {
      return Refuse(err::kBadDb, "the file is not a Sharemapper key store; it is left as it is");
    }
    if (!empty && version != kSchemaVersion) {
      return Refuse(err::kBadDb, "the file has a key store layout this program does not know (version " +
                                     std::to_string(version) + "); it is left as it is");
    }
    return err::kSuccess;
  }

  // Whether the statement gives a row; a failure stays in `rc`.
  static bool Found(Statement& statement, int& rc) {
    rc = statement.Step();
    const bool found = rc == SQLITE_ROW;
    rc = Stepped(rc);
    return found;
  }

  // Whether the key exists (and its id).
  bool Look(const std::string& path, KeyId& id, int& rc) {
    Statement statement(db_, "SELECT id FROM keys WHERE path = ?1");
    const bool found = Found(statement.Bind(1, path), rc);
    if (found) id = statement.Int(0);
    return found;
  }

  bool Exists(KeyId key, int& rc) {
    Statement statement(db_, "SELECT 1 FROM keys WHERE id = ?1");
    return Found(statement.Bind(1, key), rc);
  }

  ErrorCode Refuse(ErrorCode code, const std::string& what) {
    LOG4CXX_ERROR(Logger(), "key store " << (file_.empty() ? std::string("(no location)") : file_) << ": " << what
                                         << " (Windows error " << code << ")");
    return code;
  }

  ErrorCode Fail(int rc, const char* what) {
    return Refuse(posix::SqliteError(rc), std::string(what) + ": " + db_.Describe(rc));
  }

  posix::Database db_;
  std::string file_;
  std::map<KeyHandle, KeyId> handles_;
  posix::Transaction group_{db_};  // of the outermost group under way
  int groupDepth_ = 0;             // groups begun and not yet ended
  bool groupWrites_ = false;
  ErrorCode groupFailure_ = err::kSuccess;
  KeyHandle nextHandle_ = 0x100;
};

PosixRegistry& Instance() {
  static PosixRegistry registry;
  return registry;
}

}  // namespace

Registry& RealRegistry() { return Instance(); }

namespace posix {
void ResetKeyStore() { Instance().Reset(); }
std::string KeyStorePath() { return ResolvePath(); }
}  // namespace posix

}  // namespace platform

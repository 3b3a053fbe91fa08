#include "platform/posix/drives.h"

#include <sqlite3.h>

#include "log/diag_logger.h"
#include "platform/posix/net_remote_name.h"

namespace platform {
namespace posix {
namespace {

constexpr int kBusyTimeoutMs = 5000;

// The table keeps a rollback journal (README, "Journals and fsyncs").
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS connections ("
    " letter TEXT PRIMARY KEY NOT NULL CHECK (length(letter) = 1 AND letter BETWEEN 'A' AND 'Z'),"
    " remote_name TEXT NOT NULL,"
    " host TEXT NOT NULL,"
    " share TEXT NOT NULL,"
    " account TEXT NOT NULL)";

const log4cxx::LoggerPtr& Logger() {
  static const log4cxx::LoggerPtr logger = VkSharemapper::diag::GetLogger("Sharemapper.Connections");
  return logger;
}

// A table that is no sound database "cannot be opened", whenever that shows.
ErrorCode Failure(int rc) { return SqliteError(rc, err::kCantOpen); }

bool ValidLetter(char letter) { return letter >= 'A' && letter <= 'Z'; }

}  // namespace

// The open table; null with `code` 0 when there is none and `create` is
// false: then there are no connections.
Database* Drives::Open(bool create, ErrorCode& code) {
  code = err::kSuccess;
  if (db_.IsOpen()) return &db_;
  const std::string file = PrivateFolderPath(PrivateFolder::kRuntime) + "/connections.db";
  bool absent = false;
  std::string why;
  code = PreparePrivateFile(file, create, absent, why, Logger());
  if (code != err::kSuccess) LOG4CXX_ERROR(Logger(), "connection table refused: " << why);
  if (code != err::kSuccess || absent) return nullptr;
  int rc = db_.Open(file, kBusyTimeoutMs);
  if (rc == SQLITE_OK) rc = db_.Exec(kSchema);
  if (rc == SQLITE_OK) return &db_;
  LOG4CXX_ERROR(Logger(), "cannot use " << file << ": " << db_.Describe(rc));
  db_.Close();
  code = Failure(rc);
  return nullptr;
}

// The checks of a new row, in the caller's transaction when it has one.
ErrorCode Drives::Conflicts(const ConnectionRow& row) {
  Statement taken(db_, "SELECT 1 FROM connections WHERE letter = ?1");
  int rc = taken.Bind(1, std::string(1, row.letter)).Step();
  if (rc == SQLITE_ROW) return err::kAlreadyAssigned;
  // Windows allows one set of credentials per server in a logon session.
  Statement other(db_, "SELECT 1 FROM connections WHERE host = ?1 COLLATE NOCASE AND account <> ?2 COLLATE NOCASE");
  if (rc == SQLITE_DONE) rc = other.Bind(1, row.host).Bind(2, row.account).Step();
  if (rc == SQLITE_ROW) return err::kSessionCredentialConflict;
  return rc == SQLITE_DONE ? err::kSuccess : Failure(rc);
}

std::uint32_t Drives::LetterMask() {
  ErrorCode code = err::kSuccess;
  if (Open(false, code) == nullptr) return 0;
  Statement select(db_, "SELECT letter FROM connections");
  std::uint32_t mask = 0;
  int rc;
  while ((rc = select.Step()) == SQLITE_ROW) {
    const std::string letter = select.Bytes(0);
    if (letter.size() == 1 && ValidLetter(letter[0])) mask |= 1u << (letter[0] - 'A');
  }
  return rc == SQLITE_DONE ? mask : 0;
}

ErrorCode Drives::Find(char letter, ConnectionRow& row) {
  ErrorCode code = err::kNotConnected;
  if (!ValidLetter(letter) || Open(false, code) == nullptr) return code != err::kSuccess ? code : err::kNotConnected;
  Statement select(db_, "SELECT remote_name, host, share, account FROM connections WHERE letter = ?1");
  const int rc = select.Bind(1, std::string(1, letter)).Step();
  if (rc == SQLITE_DONE) return err::kNotConnected;
  if (rc != SQLITE_ROW) return Failure(rc);
  row.letter = letter;
  row.remoteName = select.Bytes(0);
  row.host = select.Bytes(1);
  row.share = select.Bytes(2);
  row.account = select.Bytes(3);
  return err::kSuccess;
}

ErrorCode Drives::Check(const ConnectionRow& row) {
  ErrorCode code = err::kBadDevice;
  if (!ValidLetter(row.letter) || Open(false, code) == nullptr) return code;
  return Conflicts(row);
}

ErrorCode Drives::Insert(const ConnectionRow& row) {
  ErrorCode code = err::kBadDevice;
  if (!ValidLetter(row.letter) || Open(true, code) == nullptr) return code;
  // The checks and the insertion see the same table.
  Transaction transaction(db_);
  int rc = transaction.Begin(true);
  if (rc != SQLITE_OK) return Failure(rc);
  code = Conflicts(row);
  if (code != err::kSuccess) return code;
  Statement insert(db_, "INSERT INTO connections (letter, remote_name, host, share, account)"
                        " VALUES (?1, ?2, ?3, ?4, ?5)");
  insert.Bind(1, std::string(1, row.letter)).Bind(2, row.remoteName).Bind(3, row.host);
  rc = insert.Bind(4, row.share).Bind(5, row.account).Step();
  if (rc == SQLITE_DONE) rc = transaction.Commit();
  return rc == SQLITE_OK ? err::kSuccess : (rc & 0xFF) == SQLITE_CONSTRAINT ? err::kAlreadyAssigned : Failure(rc);
}

ErrorCode Drives::Delete(char letter, const std::string& remoteName) {
  ErrorCode code = err::kNotConnected;
  if (!ValidLetter(letter) || Open(false, code) == nullptr) return code != err::kSuccess ? code : err::kNotConnected;
  Statement remove(db_, "DELETE FROM connections WHERE letter = ?1 AND (?2 = '' OR remote_name = ?2)");
  const int rc = remove.Bind(1, std::string(1, letter)).Bind(2, remoteName).Step();
  if (rc != SQLITE_DONE) return Failure(rc);
  return db_.Changes() > 0 ? err::kSuccess : err::kNotConnected;
}

std::shared_ptr<SmbSession> Drives::Session(char letter) {
  const std::lock_guard<std::mutex> lock(sessionsMutex_);
  const auto found = sessions_.find(letter);
  if (found == sessions_.end()) return nullptr;
  ConnectionRow row;
  RemoteName recorded;
  const RemoteName& live = found->second->name();
  if (Find(letter, row) != err::kSuccess || ParseRemoteName(row.remoteName, recorded) != err::kSuccess ||
      recorded.host != live.host || recorded.share != live.share || recorded.components != live.components) {
    sessions_.erase(found);
    return nullptr;
  }
  return found->second;
}

// Never destroyed: at exit the sessions are not logged off one by one (see
// README); their sockets close with the process.
Drives& UserDrives() {
  static Drives* drives = new Drives;
  return *drives;
}

}  // namespace posix
}  // namespace platform

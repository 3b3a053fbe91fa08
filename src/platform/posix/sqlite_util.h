// What the two SQLite stores of this layer (the key store and the
// connection table) share: a connection, its statements and transactions,
// the journal choice, and the Windows numbers of SQLite's failures.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/errors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace platform {
namespace posix {

// SQLite result code (extended) to the Windows number RegXxx would answer
// for the same trouble; a file that is no sound database answers `unsound`.
ErrorCode SqliteError(int rc, ErrorCode unsound = err::kBadDb);

class Database {
 public:
  Database() = default;
  ~Database() { Close(); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the existing `file`, never through a link, read-only when it
  // cannot be written; answers SQLite's result code.
  int Open(const std::string& file, int busyTimeoutMs);
  // Opens `file` read-only without locks or log (SQLite's immutable=1).
  int OpenImmutable(const std::string& file);
  // Switches to a write-ahead log when the file may be written and is on a
  // local file system (README, "Journals and fsyncs"); true when it did.
  bool UseWriteAheadLog(const std::string& file);
  void Close();

  bool IsOpen() const { return db_ != nullptr; }
  bool ReadOnly() const;
  int Changes() const;
  std::string Describe(int rc) const;  // SQLite's text, with its detail

  int Exec(const char* sql);  // any number of statements, not cached
  int Run(const char* sql);   // one cached statement, stepped to its end
  bool InTransaction() const;

 private:
  friend class Statement;
  int Connect(const std::string& name, int flags);
  sqlite3* db_ = nullptr;
  int busyTimeoutMs_ = 0;
  // Prepared once for the connection's life (a query of every drive runs the
  // same few statements a hundred times); finalised before it closes.
  std::map<std::string, sqlite3_stmt*> cache_;
};

// A transaction, rolled back when it ends uncommitted. Begun inside another
// one (a group of calls), it is a savepoint of that one instead: its end
// undoes its own work alone, and only the outer commit makes it last.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) {}
  ~Transaction() { End(false); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // A write transaction takes the write lock before its first read.
  int Begin(bool write);
  int Commit() { return End(true); }
  void Rollback() { End(false); }
  bool Open() const { return state_ != kEnded; }

 private:
  int End(bool commit);
  Database& db_;
  enum { kEnded, kOuter, kSavepoint } state_ = kEnded;
};

// One of the connection's cached statements, reset and unbound again when
// it goes out of scope. A failed prepare or bind is answered by Step.
class Statement {
 public:
  Statement(Database& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, const std::string& text);
  Statement& BindBlob(int index, const char* data, std::uint32_t size);
  int Step();  // SQLITE_ROW, SQLITE_DONE or a failure

  std::int64_t Int(int column);
  std::string Bytes(int column);

 private:
  Statement& Keep(int rc);
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = 0;
};

}  // namespace posix
}  // namespace platform

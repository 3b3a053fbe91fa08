// What the two SQLite stores of this layer (the key store and the
// connection table) share: cached statements and the choice of journal.
#pragma once

#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace posix {

// Prepared statements kept for the life of one connection, so that a run
// that reads the same few queries a hundred times compiles each once.
class StatementCache {
 public:
  StatementCache() = default;
  ~StatementCache() { Clear(); }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // The statement for `sql` on `db`, prepared on first use; it comes reset,
  // with no values bound. Answers SQLite's result code; on failure `out` is
  // null and nothing is kept, so the next call tries again.
  int Get(sqlite3* db, const char* sql, sqlite3_stmt*& out) {
    for (const auto& entry : entries_) {
      if (entry.first == sql) {
        out = entry.second;
        return SQLITE_OK;
      }
    }
    out = nullptr;
    const int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &out, nullptr);
    if (rc != SQLITE_OK || out == nullptr) {
      sqlite3_finalize(out);
      out = nullptr;
      return rc != SQLITE_OK ? rc : SQLITE_MISUSE;
    }
    entries_.emplace_back(sql, out);
    return SQLITE_OK;
  }

  // Finalises every statement; must run before the connection is closed.
  void Clear() {
    for (auto& entry : entries_) sqlite3_finalize(entry.second);
    entries_.clear();
  }

 private:
  std::vector<std::pair<std::string, sqlite3_stmt*>> entries_;
};

// Puts the database of `db`, the file `file`, into write-ahead log mode with
// synchronous=NORMAL, when the file is on a local file system and the
// connection may write it. True when the connection now uses the log.
//
// With a rollback journal and synchronous=FULL every commit costs four
// fsyncs (the journal twice, its folder, the file) and a journal file made
// and removed. Under the log a commit appends to the log with no fsync; the
// log is copied back into the file when the last connection closes, that is
// at the end of a run, or once it has grown long, which costs three fsyncs
// in all. That order never corrupts the database: a power loss or a crash
// of the system can at worst take the commits of the run in progress with
// it, and once a run has ended its changes are on the disk. Readers see the
// last commit, and readers and the one writer no longer wait for each other.
//
// The log (-wal) and its index (-shm) lie beside the file, with its owner
// and mode. The last connection to close empties the log but leaves both,
// so that later runs need not make them again. A log needs memory shared by
// every user of the file, which network file systems do not give: on
// anything not known to be local the database is left as it is (a new one
// keeps its rollback journal). Neither is a database switched that another
// run is using at that moment; a later run switches it. A connection that
// stays with a rollback journal keeps synchronous=FULL: NORMAL could
// corrupt there.
bool UseWriteAheadLog(sqlite3* db, const std::string& file, int busyTimeoutMs);

}  // namespace posix
}  // namespace platform

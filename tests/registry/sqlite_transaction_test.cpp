// The SQLite helper's transaction: alone it keeps all or nothing; inside
// another it is a savepoint, whose failure undoes its own work alone.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "platform/posix/sqlite_util.h"
#include "support/runner.h"

namespace {

using platform::posix::Database;
using platform::posix::Statement;
using platform::posix::Transaction;

std::string Rows(Database& db) {
  Statement rows(db, "SELECT coalesce(group_concat(v), '') FROM (SELECT v FROM t ORDER BY v)");
  return rows.Step() == SQLITE_ROW ? rows.Bytes(0) : "(failed)";
}

TEST(SqliteTransaction, ASavepointThatFailsUndoesItsOwnWorkAlone) {
  const testkit::TempDir dir;
  const std::string file = dir / "t.db";
  testkit::WriteFile(file, "");
  Database db;
  ASSERT_EQ(SQLITE_OK, db.Open(file, 1000));
  ASSERT_EQ(SQLITE_OK, db.Exec("CREATE TABLE t(v INTEGER UNIQUE)"));
  {
    Transaction group(db);
    ASSERT_EQ(SQLITE_OK, group.Begin(true));
    {
      Transaction call(db);
      ASSERT_EQ(SQLITE_OK, call.Begin(true));
      ASSERT_EQ(SQLITE_OK, db.Exec("INSERT INTO t VALUES(1)"));
      ASSERT_EQ(SQLITE_OK, call.Commit());
    }
    {
      Transaction call(db);
      ASSERT_EQ(SQLITE_OK, call.Begin(true));
      ASSERT_EQ(SQLITE_OK, db.Exec("INSERT INTO t VALUES(2)"));
      ASSERT_NE(SQLITE_OK, db.Exec("INSERT INTO t VALUES(1)"));
    }  // ends uncommitted
    EXPECT_TRUE(db.InTransaction());
    ASSERT_EQ(SQLITE_OK, group.Commit());
  }
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ("1", Rows(db));
  {
    Transaction alone(db);
    ASSERT_EQ(SQLITE_OK, alone.Begin(false));
    ASSERT_EQ(SQLITE_OK, db.Exec("INSERT INTO t VALUES(3)"));
  }
  EXPECT_EQ("1", Rows(db));
}

}  // namespace

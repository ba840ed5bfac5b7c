// SQLite's multi-thread mode. This program holds this one test, so that it starts in a process
// where SQLite has not initialized yet, as quillon-export and quillon-host do.
#include <string>

#include <gtest/gtest.h>

#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/odbc/SqliteThreading.h"
#include "tests/support/TempDir.h"

namespace quillon::odbc {
namespace {

TEST(SqliteThreading, SetOnlyForSqliteDriversAndOnlyBeforeTheFirstConnection) {
  testing::TempDir dir;
  const std::wstring connect = L"DRIVER={SQLite3};Database=" + (dir / "t.db").wstring();
  EXPECT_FALSE(UseSqliteMultiThreadMode(L"DRIVER={No Such Driver};Database=x"));
  EXPECT_FALSE(UseSqliteMultiThreadMode(L"DSN=no-such-source"));
  EXPECT_FALSE(UseSqliteMultiThreadMode(L"Database=x"));
  EXPECT_FALSE(UseSqliteMultiThreadMode(L"DRIVER={PostgreSQL Unicode};Servername=/nonexistent"));
  ASSERT_TRUE(UseSqliteMultiThreadMode(connect));

  // The driver works in that mode, and once SQLite has initialized the mode can no longer change.
  CDatabase db;
  db.OpenEx(connect, CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE t (n INTEGER)");
  db.ExecuteSQL(L"INSERT INTO t VALUES (7)");
  CRecordset rs(&db);
  rs.Open(CRecordset::forwardOnly, L"SELECT n FROM t", CRecordset::readOnly);
  CDBVariant n;
  rs.GetFieldValue(0, n);
  EXPECT_EQ(n.m_lVal, 7);
  EXPECT_FALSE(UseSqliteMultiThreadMode(connect));
}

}  // namespace
}  // namespace quillon::odbc

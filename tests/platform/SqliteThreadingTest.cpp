// SQLite's multi-thread mode. This program holds this one test, so that it starts in a process
// where SQLite has not initialized yet, as quillon-export and quillon-host do.
#include <dlfcn.h>

#include <cstdint>
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

  // The driver's SQLite keeps no memory statistics (whose counting locks a mutex on every
  // allocation): it reports no memory in use although a connection is open.
  void* sqlite = dlopen("libsqlite3.so.0", RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(sqlite, nullptr);
  const auto memoryUsed = reinterpret_cast<std::int64_t (*)()>(dlsym(sqlite, "sqlite3_memory_used"));
  ASSERT_NE(memoryUsed, nullptr);
  EXPECT_EQ(memoryUsed(), 0);
  dlclose(sqlite);
}

}  // namespace
}  // namespace quillon::odbc

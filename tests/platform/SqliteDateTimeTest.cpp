// Date-times from the SQLite ODBC driver, which the recordset reads as text where it can. In a
// file of its own: sql.h defines as macros some names the project's headers use.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "tests/support/TempDir.h"
// sql.h after the project's headers.
#include <sql.h>
#include <sqlext.h>

namespace quillon::odbc {
namespace {

std::wstring Describe(const CDBVariant& v) {
  if (v.m_dwType != DBVT_DATE) return L"kind " + std::to_wstring(v.m_dwType);
  const TIMESTAMP_STRUCT& d = *v.m_pdate;
  return std::to_wstring(d.year) + L"-" + std::to_wstring(d.month) + L"-" + std::to_wstring(d.day) + L" " +
         std::to_wstring(d.hour) + L":" + std::to_wstring(d.minute) + L":" + std::to_wstring(d.second) + L"." +
         std::to_wstring(d.fraction);
}

// Date-times as the driver itself converts them, whatever text the file holds: the usual form,
// fractions of every length, impossible dates and times, other forms, numbers, blanks, and text
// longer than any date-time. Each is read through the recordset, at once and captured ahead,
// and through the driver's own date-time conversion on a plain statement handle.
TEST(SqliteDateTimes, ArriveAsTheDriverConvertsThem) {
  const std::vector<std::wstring> texts = {L"'2020-01-01 00:01:00'",
                                           L"'2020-01-01 00:01:00.5'",
                                           L"'2020-01-01 00:01:00.123456789'",
                                           L"'2020-01-01 00:01:00.1234567891'",
                                           L"'2020-01-01 00:01:00.'",
                                           L"'2020-01-01 00:01:00.000'",
                                           L"'2020-01-01 00:01:00.1x'",
                                           L"'2020-02-30 10:00:00'",
                                           L"'2021-02-29 00:00:00'",
                                           L"'2020-02-29 23:59:59'",
                                           L"'1900-02-29 00:00:00'",
                                           L"'2000-02-29 00:00:00'",
                                           L"'2020-04-31 00:00:00'",
                                           L"'2020-13-01 00:00:00'",
                                           L"'2020-01-00 00:00:00'",
                                           L"'2020-01-01 24:00:00'",
                                           L"'2020-01-01 23:60:00'",
                                           L"'2020-01-01 23:59:60'",
                                           L"'0000-01-01 00:00:00'",
                                           L"'0001-01-01 00:00:00'",
                                           L"'9999-12-31 23:59:59.999999999'",
                                           L"'2020-01-01T10:00:00'",
                                           L"'2020-01-01'",
                                           L"' 2020-01-01 00:00:00'",
                                           L"'2020-01-01 00:01:00 '",
                                           L"'2020-1-1 1:2:3'",
                                           L"'2020-01-01 00:01:00Z'",
                                           L"'2020-01-01 00:01:00+02:00'",
                                           L"1577836800",
                                           L"2459000.5",
                                           L"'junk'",
                                           L"''",
                                           L"NULL",
                                           L"'2020-01-01 00:01:00.123456789 and a tail longer than any date-time'"};
  testing::TempDir dir;
  CDatabase db;
  db.OpenEx(L"DRIVER=SQLite3;Database=" + (dir / "test.db").wstring(), CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE d (n INTEGER, ts TIMESTAMP)");
  for (std::size_t i = 0; i < texts.size(); ++i) {
    db.ExecuteSQL(L"INSERT INTO d VALUES (" + std::to_wstring(i) + L", " + texts[i] + L")");
  }
  const std::wstring query = L"SELECT ts FROM d ORDER BY n";

  // The driver's conversion, column bound as a date-time.
  std::vector<std::wstring> expected;
  {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)));
    const std::string connect = "DRIVER=SQLite3;Database=" + (dir / "test.db").string();
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connect.c_str())),
                                       SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)));
    SQL_TIMESTAMP_STRUCT ts{};
    SQLLEN indicator = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLBindCol(stmt, 1, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &indicator)));
    const std::string sql = "SELECT ts FROM d ORDER BY n";
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS)));
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
      CDBVariant value;
      if (indicator != SQL_NULL_DATA) {
        value.SetDate(TIMESTAMP_STRUCT{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction});
      }
      expected.push_back(Describe(value));
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  ASSERT_EQ(expected.size(), texts.size());

  CRecordset atOnce(&db);
  atOnce.Open(CRecordset::forwardOnly, query, CRecordset::readOnly);
  CRecordset ahead(&db);
  ahead.Open(CRecordset::forwardOnly, query, CRecordset::readOnly);
  CRowBatch batch;
  CDBVariant value;
  for (std::size_t i = 0; i < texts.size(); ++i, atOnce.MoveNext(), ahead.MoveNext()) {
    ASSERT_FALSE(atOnce.IsEOF());
    atOnce.GetFieldValue(0, value);
    EXPECT_EQ(Describe(value), expected[i]) << texts[i];
    ahead.CaptureRow(batch);
    batch.GetValue(i, 0, value);
    EXPECT_EQ(Describe(value), expected[i]) << texts[i];
  }
}

}  // namespace
}  // namespace quillon::odbc

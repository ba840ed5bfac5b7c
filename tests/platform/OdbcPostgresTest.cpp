// The ODBC layer against psqlodbc and a PostgreSQL server that the test starts itself.
#include <memory>

#include <gtest/gtest.h>

#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/odbc/StreamingConnect.h"
#include "tests/support/PostgresServer.h"

namespace quillon::odbc {
namespace {

testing::PostgresServer* g_server = nullptr;

class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    m_server = std::make_unique<testing::PostgresServer>();
    g_server = m_server.get();
  }
  void TearDown() override {
    g_server = nullptr;
    m_server.reset();
  }

 private:
  std::unique_ptr<testing::PostgresServer> m_server;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

class OdbcPostgres : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(g_server, nullptr);
    m_db.OpenEx(g_server->ConnectString(), CDatabase::noOdbcDialog);
  }
  CDatabase m_db;
};

TEST_F(OdbcPostgres, EachColumnTypeArrivesAsItsValueKind) {
  m_db.ExecuteSQL(L"DROP TABLE IF EXISTS kinds");
  m_db.ExecuteSQL(
      L"CREATE TABLE kinds (i int4, s int2, v varchar(40), t text, d float8, r float4, n numeric(10,2), b boolean, "
      L"dt date, ts timestamp, bi int8, bin bytea)");
  m_db.ExecuteSQL(
      L"INSERT INTO kinds VALUES (42, -7, 'v', 'long', 2.5, 0.5, 12.34, true, '2024-03-05', '2024-03-05 07:08:09', "
      L"-9007199254740993, '\\x00ff')");
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT * FROM kinds", CRecordset::readOnly);
  ASSERT_EQ(rs.GetODBCFieldCount(), 12);
  // psqlodbc reports float8 as SQL_FLOAT, which arrives as a double all the same.
  const std::int16_t types[] = {SQL_CODE_INTEGER, SQL_CODE_SMALLINT,  SQL_CODE_VARCHAR, SQL_CODE_LONGVARCHAR,
                                SQL_CODE_FLOAT,   SQL_CODE_REAL,      SQL_CODE_NUMERIC, SQL_CODE_BIT,
                                SQL_CODE_DATE,    SQL_CODE_TIMESTAMP, SQL_CODE_BIGINT,  SQL_CODE_LONGVARBINARY};
  const std::uint32_t kinds[] = {DBVT_LONG,   DBVT_SHORT, DBVT_STRING, DBVT_STRING, DBVT_DOUBLE, DBVT_SINGLE,
                                 DBVT_STRING, DBVT_BOOL,  DBVT_DATE,   DBVT_DATE,   DBVT_STRING, DBVT_BINARY};
  CDBVariant v[12];
  for (std::int16_t c = 0; c < 12; ++c) {
    CODBCFieldInfo info;
    rs.GetODBCFieldInfo(c, info);
    EXPECT_EQ(info.m_nSQLType, types[c]) << "column " << c;
    rs.GetFieldValue(c, v[c]);
    EXPECT_EQ(v[c].m_dwType, kinds[c]) << "column " << c;
  }
  EXPECT_EQ(v[0].m_lVal, 42);
  EXPECT_EQ(v[1].m_iVal, -7);
  EXPECT_EQ(v[5].m_fltVal, 0.5f);
  EXPECT_EQ(*v[6].m_pstring, L"12.34");
  EXPECT_EQ(v[7].m_boolVal, 1);
  EXPECT_EQ(v[8].m_pdate->day, 5);
  EXPECT_EQ(v[9].m_pdate->second, 9);
  EXPECT_EQ(*v[10].m_pstring, L"-9007199254740993");
  EXPECT_EQ(v[11].m_pbinary->m_bytes, (std::vector<std::uint8_t>{0x00, 0xFF}));
  EXPECT_EQ(rs.GetTableName(), L"kinds");
}

TEST_F(OdbcPostgres, TextRoundTripsExactlyIncludingCharactersBeyondTheBasicPlane) {
  const std::wstring text = L"Zoë d'Arc, Ærøskøbing, Москва, 東京, \U0001F600 \U00020BB7";
  std::wstring literal;
  for (wchar_t c : text) literal += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
  std::wstring longText;
  while (longText.size() < 50000) longText += L"xy\U0001F600ж";
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT '" + literal + L"' AS \"\U0001F600 col\", '" + longText + L"'::text",
          CRecordset::readOnly);
  CODBCFieldInfo info;
  rs.GetODBCFieldInfo(0, info);
  EXPECT_EQ(info.m_strName, L"\U0001F600 col");
  CDBVariant a, b;
  rs.GetFieldValue(0, a);
  rs.GetFieldValue(1, b);
  ASSERT_EQ(a.m_dwType, DBVT_STRING);
  EXPECT_EQ(*a.m_pstring, text);
  EXPECT_EQ(*b.m_pstring, longText);
}

// Text whose length the server does not bound (an unconstrained varchar) next to declared
// columns, NULLs among them: every value whole, whichever way the driver delivers it.
TEST_F(OdbcPostgres, TextOfEveryLengthAndNullsArriveWholeRowAfterRow) {
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly,
          L"SELECT g, CASE WHEN g % 9 = 4 THEN NULL ELSE repeat('é''\U0001F600', g * 7 % 1200)::varchar END AS v, "
          L"CAST('ab' || g AS varchar(12)) AS s, CASE WHEN g % 3 = 0 THEN NULL ELSE g / 4.0 END::float8 AS d, "
          L"CASE WHEN g % 5 = 0 THEN NULL ELSE TIMESTAMP '2024-03-05 00:00:00' + g * INTERVAL '1 second' END AS ts "
          L"FROM generate_series(1, 3000) AS g ORDER BY g",
          CRecordset::readOnly);
  CDBVariant g, v, s, d, ts;
  std::int32_t row = 1;
  for (; !rs.IsEOF(); rs.MoveNext(), ++row) {
    rs.GetFieldValue(0, g);
    rs.GetFieldValue(1, v);
    rs.GetFieldValue(2, s);
    rs.GetFieldValue(3, d);
    rs.GetFieldValue(4, ts);
    ASSERT_EQ(g.m_lVal, row);
    if (row % 9 == 4) {
      EXPECT_EQ(v.m_dwType, DBVT_NULL) << row;
    } else {
      std::wstring expected;
      for (int i = 0; i < row * 7 % 1200; ++i) expected += L"é'\U0001F600";
      ASSERT_EQ(v.m_dwType, DBVT_STRING) << row;
      ASSERT_EQ(*v.m_pstring, expected) << row;
    }
    ASSERT_EQ(s.m_dwType, DBVT_STRING) << row;
    EXPECT_EQ(*s.m_pstring, L"ab" + std::to_wstring(row)) << row;
    if (row % 3 == 0) {
      EXPECT_EQ(d.m_dwType, DBVT_NULL) << row;
    } else {
      ASSERT_EQ(d.m_dwType, DBVT_DOUBLE) << row;
      EXPECT_EQ(d.m_dblVal, row / 4.0) << row;
    }
    if (row % 5 == 0) {
      EXPECT_EQ(ts.m_dwType, DBVT_NULL) << row;
    } else {
      ASSERT_EQ(ts.m_dwType, DBVT_DATE) << row;
      EXPECT_EQ(ts.m_pdate->hour * 3600 + ts.m_pdate->minute * 60 + ts.m_pdate->second, row) << row;
    }
  }
  EXPECT_EQ(row, 3001);
}

TEST_F(OdbcPostgres, ServerErrorsCarryTheirSqlState) {
  CRecordset rs(&m_db);
  try {
    rs.Open(CRecordset::forwardOnly, L"SELECT * FROM no_such_table", CRecordset::readOnly);
    FAIL() << "no exception";
  } catch (const CDBException& e) {
    EXPECT_EQ(e.m_strSqlState, L"42P01");
    EXPECT_NE(e.m_strError.find(L"no_such_table"), std::wstring::npos);
  }
}

TEST_F(OdbcPostgres, ManyRowsWalkForwardInOrder) {
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT g FROM generate_series(1, 20000) AS g", CRecordset::readOnly);
  std::int32_t expected = 1;
  for (; !rs.IsEOF(); rs.MoveNext(), ++expected) {
    CDBVariant v;
    rs.GetFieldValue(0, v);
    ASSERT_EQ(v.m_lVal, expected);
  }
  EXPECT_EQ(expected, 20001);
}

// The options that stop psqlodbc from holding a whole result: the driver takes them and hands
// out every row, in order, across its fetches through the cursor.
TEST(OdbcPostgresStreaming, RowsComeThroughTheCursorWholeAndInOrder) {
  ASSERT_NE(g_server, nullptr);
  CDatabase db;
  db.OpenEx(WithStreamingFetch(g_server->ConnectString()), CDatabase::noOdbcDialog);
  EXPECT_NE(db.GetConnect().find(L"UseDeclareFetch=1"), std::wstring::npos) << db.GetConnect();
  const std::int32_t rows = 3 * kPostgresFetchRows + 7;
  CRecordset rs(&db);
  rs.Open(CRecordset::forwardOnly,
          L"SELECT g, repeat('x', g % 50) FROM generate_series(1, " + std::to_wstring(rows) + L") AS g",
          CRecordset::readOnly);
  std::int32_t expected = 1;
  for (; !rs.IsEOF(); rs.MoveNext(), ++expected) {
    CDBVariant n, text;
    rs.GetFieldValue(0, n);
    rs.GetFieldValue(1, text);
    ASSERT_EQ(n.m_lVal, expected);
    ASSERT_EQ(text.m_pstring->size(), static_cast<std::size_t>(expected % 50));
  }
  EXPECT_EQ(expected, rows + 1);
}

}  // namespace
}  // namespace quillon::odbc

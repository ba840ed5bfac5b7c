// The row reader against the real SQLite ODBC driver, fetching a step at a time.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/RowReader.h"
#include "engine/StatementBuilders.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/TempDir.h"

namespace quillon::engine {
namespace {

class RowReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_db.OpenEx(L"StepAPI=1;DRIVER=SQLite3;Database=" + (m_dir / "rows.db").wstring(), odbc::CDatabase::noOdbcDialog);
    m_db.ExecuteSQL(L"CREATE TABLE t (n INTEGER, s TEXT)");
    m_db.ExecuteSQL(L"BEGIN");
    for (int n = 1; n <= kRows; ++n) {
      m_db.ExecuteSQL(L"INSERT INTO t VALUES (" + std::to_wstring(n) + L", " +
                      (n % 5 == 0 ? std::wstring(L"NULL") : L"'row " + std::to_wstring(n) + L"'") + L")");
    }
    m_db.ExecuteSQL(L"COMMIT");
  }

  void Open(const std::wstring& query) { m_rs.Open(odbc::CRecordset::forwardOnly, query, odbc::CRecordset::readOnly); }

  static constexpr int kRows = 1000;
  testing::TempDir m_dir;
  odbc::CDatabase m_db;
  odbc::CRecordset m_rs{&m_db};
};

constexpr RowReader::Limits kSmallBatches{7, 1 << 20, 2};

TEST_F(RowReaderTest, EveryRowArrivesOnceInOrderAcrossBatches) {
  Open(L"SELECT n, s FROM t ORDER BY n");
  odbc::CDBVariant n, s;
  int expected = 0;
  {
    RowReader reader(m_rs, kSmallBatches);
    while (reader.Next()) {
      ++expected;
      reader.GetValue(0, n);
      reader.GetValue(1, s);
      ASSERT_EQ(n.m_dwType, odbc::DBVT_LONG);
      ASSERT_EQ(n.m_lVal, expected);
      if (expected % 5 == 0) {
        EXPECT_EQ(s.m_dwType, odbc::DBVT_NULL);
      } else {
        ASSERT_EQ(s.m_dwType, odbc::DBVT_STRING);
        EXPECT_EQ(*s.m_pstring, L"row " + std::to_wstring(expected));
      }
    }
    EXPECT_FALSE(reader.Next());
  }
  EXPECT_EQ(expected, kRows);
  EXPECT_TRUE(m_rs.IsEOF());
}

TEST_F(RowReaderTest, AFetchErrorArrivesAfterTheRowsBeforeIt) {
  // SQLite raises "integer overflow" while stepping to row 500, after 499 rows came out.
  Open(L"SELECT n, CASE WHEN n = 500 THEN abs(-9223372036854775808) ELSE n END FROM t");
  RowReader reader(m_rs, kSmallBatches);
  odbc::CDBVariant n;
  int rows = 0;
  try {
    while (reader.Next()) {
      reader.GetValue(0, n);
      ASSERT_EQ(n.m_lVal, ++rows);
    }
    FAIL() << "the result ended without the error";
  } catch (const odbc::CDBException& e) {
    EXPECT_NE(e.m_strError.find(L"overflow"), std::wstring::npos) << e.m_strError;
  }
  EXPECT_EQ(rows, 499);
  // The error was delivered once; the result has ended.
  EXPECT_FALSE(reader.Next());
}

TEST_F(RowReaderTest, EndingEarlyLeavesTheConnectionFreeForTheNextStatement) {
  Open(L"SELECT a.n, b.s FROM t a, t b");  // a million rows: the reader is still fetching at the end
  {
    RowReader reader(m_rs, kSmallBatches);
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(reader.Next());
  }
  EXPECT_FALSE(m_rs.IsEOF());
  m_rs.Close();
  odbc::CRecordset again(&m_db);
  again.Open(odbc::CRecordset::forwardOnly, L"SELECT max(n) FROM t", odbc::CRecordset::readOnly);
  odbc::CDBVariant last;
  again.GetFieldValue(0, last);
  ASSERT_EQ(last.m_dwType, odbc::DBVT_STRING);
  EXPECT_EQ(*last.m_pstring, std::to_wstring(kRows));
}

TEST_F(RowReaderTest, LongValuesArriveWholeInBatchesBoundedByBytes) {
  m_db.ExecuteSQL(L"CREATE TABLE big (n INTEGER, memo TEXT)");
  // 1 MB texts, each a little different, so that a value cut or mixed with its neighbour shows.
  m_db.ExecuteSQL(
      L"INSERT INTO big SELECT n, printf('%d:', n) || replace(hex(zeroblob(500000)), '00', "
      L"char(65 + n % 26, 66 + n % 20)) FROM t WHERE n <= 12");
  Open(L"SELECT n, memo FROM big ORDER BY n");
  RowReader reader(m_rs, RowReader::Limits{256, 2 << 20, 2});
  odbc::CDBVariant n, memo;
  int rows = 0;
  while (reader.Next()) {
    ++rows;
    reader.GetValue(0, n);
    reader.GetValue(1, memo);
    ASSERT_EQ(n.m_lVal, rows);
    ASSERT_EQ(memo.m_dwType, odbc::DBVT_STRING);
    std::wstring expected = std::to_wstring(rows) + L":";
    const wchar_t pair[] = {static_cast<wchar_t>(L'A' + rows % 26), static_cast<wchar_t>(L'B' + rows % 20)};
    for (int i = 0; i < 500000; ++i) expected.append(pair, 2);
    ASSERT_EQ(memo.m_pstring->size(), expected.size());
    EXPECT_TRUE(*memo.m_pstring == expected) << "row " << rows;
  }
  EXPECT_EQ(rows, 12);
}

// ReadLiterals reads the common kinds straight from the captured bytes: it must give what
// BuildInsertLiterals makes of GetValue's values, the first refusal of a row included, for every
// kind and form.
TEST_F(RowReaderTest, ReadLiteralsGivesTheLiteralsOfTheValuesGetValueGives) {
  m_db.ExecuteSQL(
      L"CREATE TABLE k (i INTEGER, sm SMALLINT, big BIGINT, b BIT, d DOUBLE, r REAL, ts TIMESTAMP, dt DATE, tm TIME, "
      L"v VARCHAR(20), bl BLOB)");
  m_db.ExecuteSQL(
      L"INSERT INTO k VALUES (42, 7, 9007199254740993, 1, 0.1, 2.5, '2020-02-29 13:45:59', '2021-03-04', '12:34:56', "
      L"'it''s Zoë', x'00FF'), (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
      L"(-5, 40000, -9223372036854775808, 0, 'Inf', '-Inf', '2020-01-01 00:00:00.5', '1999-12-31', '00:00:00', 'NULL', "
      L"x''), ('12abc', '007', '1e3', 'x', '1e400', '1.5.1', '2020-13-01 00:00:00', 'soon', '25:00', "
      L"CAST(x'C3' AS TEXT), 'text'), (1e20, -0.5, 12, 2, '', '1e-5', 'now', '', '', '', NULL), "
      L"(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, CAST(x'410042' AS TEXT), NULL), "
      L"(-0, 123456789012345678, 1234567890123456789, 0, '-12.50', '007.5', NULL, NULL, NULL, '', NULL), "
      L"('-', '-0', '99999999999999999999', '01', '.5', '5.', NULL, NULL, NULL, '', NULL), "
      L"('+5', '00', '-9223372036854775809', NULL, '-', '12345678901234567890.5', NULL, NULL, NULL, '', NULL)");
  Open(L"SELECT * FROM k");
  std::vector<std::int16_t> types;
  for (std::int16_t i = 0; i < m_rs.GetODBCFieldCount(); ++i) types.push_back(m_rs.GetODBCFieldInfo(i).m_nSQLType);
  RecordingHost host;
  const std::wstring pattern(EffectiveDatePattern(L""));
  RowReader reader(m_rs, kSmallBatches);
  std::vector<odbc::CellValue> cells;
  std::vector<odbc::Literal> literals(types.size());
  int row = 0;
  while (reader.Next()) {
    ++row;
    SCOPED_TRACE(::testing::Message() << "row " << row);
    // A row's values one by one, as far as the first that cannot arrive.
    std::vector<odbc::CDBVariant> values(types.size());
    std::wstring expectedError;
    try {
      for (std::size_t i = 0; i < types.size(); ++i) reader.GetValue(static_cast<std::int16_t>(i), values[i]);
    } catch (const odbc::CDBException& e) {
      expectedError = e.m_strError;
    }
    std::vector<odbc::Literal> expected;
    if (expectedError.empty()) BuildInsertLiterals(values, types, pattern, host, expected);
    for (odbc::Literal& literal : literals) literal.text = L"left over";
    odbc::CDBVariant scratch;
    std::wstring error;
    try {
      ReadLiterals(reader, types, pattern, host, scratch, cells, literals);
    } catch (const odbc::CDBException& e) {
      error = e.m_strError;
    }
    ASSERT_EQ(error, expectedError);
    if (!error.empty()) continue;
    for (std::size_t i = 0; i < types.size(); ++i) {
      SCOPED_TRACE(::testing::Message() << "column " << i);
      const odbc::Literal& literal = literals[i];
      const odbc::Literal& want = expected[i];
      ASSERT_EQ(literal.kind, want.kind);
      EXPECT_EQ(literal.text, want.text);
      EXPECT_EQ(literal.bytes, want.bytes);
      EXPECT_EQ(literal.wellFormed, want.wellFormed);
      EXPECT_EQ(literal.holdsNumber, want.holdsNumber);
      if (want.holdsNumber || want.kind == odbc::Literal::Kind::Double) {
        EXPECT_EQ(std::memcmp(&literal.number, &want.number, sizeof want.number), 0);
      }
      if (want.kind == odbc::Literal::Kind::Integer || want.kind == odbc::Literal::Kind::Boolean) {
        EXPECT_EQ(literal.integer, want.integer);
      }
      if (want.kind == odbc::Literal::Kind::DateTime) {
        const auto parts = [](const odbc::Literal::DateParts& d) {
          return std::vector<int>{d.year, d.month, d.day, d.hour, d.minute, d.second};
        };
        EXPECT_EQ(parts(literal.date), parts(want.date));
        EXPECT_EQ(literal.dateForm, want.dateForm);
        EXPECT_EQ(literal.datePattern, want.datePattern);
      }
    }
  }
  EXPECT_EQ(row, 9);
  EXPECT_EQ(host.unknownTypes, 0);
}

}  // namespace
}  // namespace quillon::engine

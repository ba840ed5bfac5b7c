// The row reader against the real SQLite ODBC driver, fetching a step at a time.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/RowReader.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
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

}  // namespace
}  // namespace quillon::engine

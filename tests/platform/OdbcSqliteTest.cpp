// The ODBC layer against the real SQLite ODBC driver on temporary database files.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "tests/support/TempDir.h"

namespace quillon::odbc {
namespace {

class OdbcSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    m_connect = L"DRIVER=SQLite3;Database=" + (m_dir / "test.db").wstring();
    m_db.OpenEx(m_connect, CDatabase::noOdbcDialog);
  }

  testing::TempDir m_dir;
  std::wstring m_connect;
  CDatabase m_db;
};

TEST_F(OdbcSqlite, ConnectStringNamesTheDatabaseAndCloseForgetsIt) {
  ASSERT_TRUE(m_db.IsOpen());
  const std::wstring connect = m_db.GetConnect();
  EXPECT_EQ(connect.rfind(L"ODBC;", 0), 0u);
  EXPECT_NE(connect.find((m_dir / "test.db").wstring()), std::wstring::npos);
  m_db.Close();
  EXPECT_FALSE(m_db.IsOpen());
  EXPECT_EQ(m_db.GetConnect(), L"");
  // A closed connection runs nothing.
  EXPECT_THROW(m_db.ExecuteSQL(L"SELECT 1"), CDBException);
}

// A REAL arrives as SQLite's text, read by Quillon: to the same double as the library's own
// correctly rounded reading of that text, on the short path and the long one alike.
TEST_F(OdbcSqlite, RealsArriveAsTheDoubleTheirTextNames) {
  m_db.ExecuteSQL(L"CREATE TABLE r (n REAL)");
  m_db.ExecuteSQL(
      L"INSERT INTO r VALUES (0.1), (-0.0), (142.857142857143), (9007199254740993.0), (1e22), (1.5e-300), "
      L"(-123456789.123456789), (0.30000000000000004), (4503599627370497.5), (1e308), (2.2250738585072014e-308)");
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT n, CAST(n AS TEXT) FROM r", CRecordset::readOnly);
  CDBVariant number, text;
  int rows = 0;
  for (; !rs.IsEOF(); rs.MoveNext(), ++rows) {
    rs.GetFieldValue(0, number);
    rs.GetFieldValue(1, text);
    ASSERT_EQ(number.m_dwType, DBVT_DOUBLE);
    const std::string digits(text.m_pstring->begin(), text.m_pstring->end());
    double expected = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), expected);
    EXPECT_EQ(std::memcmp(&number.m_dblVal, &expected, sizeof expected), 0) << digits;
  }
  EXPECT_EQ(rows, 11);
}

TEST_F(OdbcSqlite, IntegersArriveAtFullWidthAndATimeWithoutADate) {
  // SQLite keeps 64 bits in every integer column, whatever width its type declares.
  m_db.ExecuteSQL(L"CREATE TABLE w (i INTEGER, s SMALLINT, t TIME)");
  m_db.ExecuteSQL(L"INSERT INTO w VALUES (9007199254740993, -9223372036854775808, '23:59:59'), (7, 40000, NULL)");
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT * FROM w", CRecordset::readOnly);
  CDBVariant i, s, t;
  rs.GetFieldValue(0, i);
  rs.GetFieldValue(1, s);
  rs.GetFieldValue(2, t);
  ASSERT_EQ(i.m_dwType, DBVT_BIGINT);
  EXPECT_EQ(i.m_llVal, 9007199254740993);
  ASSERT_EQ(s.m_dwType, DBVT_BIGINT);
  EXPECT_EQ(s.m_llVal, INT64_MIN);
  ASSERT_EQ(t.m_dwType, DBVT_DATE);
  EXPECT_EQ(std::make_tuple(t.m_pdate->year, t.m_pdate->month, t.m_pdate->day), std::make_tuple(0, 0, 0));
  EXPECT_EQ(std::make_tuple(t.m_pdate->hour, t.m_pdate->minute, t.m_pdate->second), std::make_tuple(23, 59, 59));
  rs.MoveNext();
  rs.GetFieldValue(0, i);
  rs.GetFieldValue(1, s);
  rs.GetFieldValue(2, t);
  // Values that fit keep the kinds of their columns.
  ASSERT_EQ(i.m_dwType, DBVT_LONG);
  EXPECT_EQ(i.m_lVal, 7);
  ASSERT_EQ(s.m_dwType, DBVT_LONG);
  EXPECT_EQ(s.m_lVal, 40000);
  EXPECT_EQ(t.m_dwType, DBVT_NULL);
}

TEST_F(OdbcSqlite, EachColumnTypeArrivesAsItsValueKind) {
  m_db.ExecuteSQL(
      L"CREATE TABLE t (i INTEGER, s SMALLINT, ti TINYINT, v VARCHAR(40), lt TEXT, d DOUBLE, num NUMERIC(10,2), "
      L"b BIT, dt DATE, ts TIMESTAMP, bi BIGINT, bin BLOB)");
  m_db.ExecuteSQL(
      L"INSERT INTO t VALUES (-2147483648, -32768, 200, 'v', 'long', 0.1, 12.34, 1, '2024-03-05', "
      L"'2024-03-05 07:08:09', 9007199254740993, X'00FF10')");
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT * FROM t", CRecordset::readOnly);
  ASSERT_EQ(rs.GetODBCFieldCount(), 12);
  ASSERT_FALSE(rs.IsEOF());

  struct Expect {
    const wchar_t* name;
    std::int16_t sqlType;
    std::uint32_t kind;
  };
  const Expect expected[] = {
      {L"i", SQL_CODE_INTEGER, DBVT_LONG},        {L"s", SQL_CODE_SMALLINT, DBVT_SHORT},
      {L"ti", SQL_CODE_TINYINT, DBVT_SHORT},      {L"v", SQL_CODE_VARCHAR, DBVT_STRING},
      {L"lt", SQL_CODE_LONGVARCHAR, DBVT_STRING}, {L"d", SQL_CODE_DOUBLE, DBVT_DOUBLE},
      {L"num", SQL_CODE_DOUBLE, DBVT_DOUBLE},     {L"b", SQL_CODE_BIT, DBVT_BOOL},
      {L"dt", SQL_CODE_DATE, DBVT_DATE},          {L"ts", SQL_CODE_TIMESTAMP, DBVT_DATE},
      {L"bi", SQL_CODE_BIGINT, DBVT_STRING},      {L"bin", SQL_CODE_BINARY, DBVT_BINARY},
  };
  CDBVariant values[12];
  for (std::int16_t c = 0; c < 12; ++c) {
    CODBCFieldInfo info;
    rs.GetODBCFieldInfo(c, info);
    EXPECT_EQ(info.m_strName, expected[c].name);
    EXPECT_EQ(info.m_nSQLType, expected[c].sqlType) << "column " << c;
    rs.GetFieldValue(c, values[c]);
    EXPECT_EQ(values[c].m_dwType, expected[c].kind) << "column " << c;
  }
  EXPECT_EQ(values[0].m_lVal, -2147483648);
  EXPECT_EQ(values[1].m_iVal, -32768);
  EXPECT_EQ(values[2].m_iVal, 200);
  EXPECT_EQ(*values[3].m_pstring, L"v");
  EXPECT_EQ(values[5].m_dblVal, 0.1);
  EXPECT_EQ(values[6].m_dblVal, 12.34);
  EXPECT_EQ(values[7].m_boolVal, 1);
  EXPECT_EQ(values[8].m_pdate->year, 2024);
  EXPECT_EQ(values[8].m_pdate->month, 3);
  EXPECT_EQ(values[8].m_pdate->day, 5);
  EXPECT_EQ(values[9].m_pdate->hour, 7);
  EXPECT_EQ(values[9].m_pdate->minute, 8);
  EXPECT_EQ(values[9].m_pdate->second, 9);
  EXPECT_EQ(*values[10].m_pstring, L"9007199254740993");
  EXPECT_EQ(values[11].m_pbinary->m_bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x10}));
  values[11].Clear();
  EXPECT_EQ(values[11].m_dwType, DBVT_NULL);
}

TEST_F(OdbcSqlite, NullsArriveAsNullWhateverTheColumnType) {
  m_db.ExecuteSQL(L"CREATE TABLE n (i INTEGER, v VARCHAR(5), d DOUBLE, b BIT, ts TIMESTAMP, bin BLOB)");
  m_db.ExecuteSQL(L"INSERT INTO n VALUES (NULL, NULL, NULL, NULL, NULL, NULL)");
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT * FROM n", CRecordset::readOnly);
  for (std::int16_t c = 0; c < rs.GetODBCFieldCount(); ++c) {
    CDBVariant v;
    v.SetLong(5);  // a stale value must not survive
    rs.GetFieldValue(c, v);
    EXPECT_EQ(v.m_dwType, DBVT_NULL) << "column " << c;
  }
}

// Short text columns are read through buffers bound to the columns; a value longer than its
// buffer must still arrive whole, and a reused variant must take each row's value exactly.
TEST_F(OdbcSqlite, ValuesLongerThanTheirDeclaredColumnArriveWhole) {
  m_db.ExecuteSQL(L"CREATE TABLE s (n INTEGER, v VARCHAR(5), ts TIMESTAMP, d DOUBLE)");
  // VARCHAR(5) gets 21 bytes: 20 bytes fit, 21 do not, and a long multi-byte value is read again.
  std::wstring huge;
  while (huge.size() < 20000) huge += L"é\U0001F600'x";
  const std::wstring texts[] = {L"", L"abc", L"12345678901234567890", L"123456789012345678901", huge, L"ééééééééééé"};
  for (int row = 0; row < 600; ++row) {
    std::wstring literal;
    for (wchar_t c : texts[row % 6]) literal += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
    m_db.ExecuteSQL(
        L"INSERT INTO s VALUES (" + std::to_wstring(row) + L", " +
        (row % 7 == 3 ? std::wstring(L"NULL") : L"'" + literal + L"'") + L", " +
        (row % 4 == 1 ? std::wstring(L"NULL") : L"'2024-03-05 07:08:" + std::to_wstring(10 + row % 50) + L"'") + L", " +
        (row % 5 == 2 ? std::wstring(L"NULL") : std::to_wstring(row) + L".5") + L")");
  }
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT * FROM s ORDER BY n", CRecordset::readOnly);
  CDBVariant n, v, ts, d;
  int row = 0;
  for (; !rs.IsEOF(); rs.MoveNext(), ++row) {
    rs.GetFieldValue(0, n);
    rs.GetFieldValue(1, v);
    rs.GetFieldValue(2, ts);
    rs.GetFieldValue(3, d);
    ASSERT_EQ(n.m_dwType, DBVT_LONG);
    ASSERT_EQ(n.m_lVal, row);
    if (row % 7 == 3) {
      EXPECT_EQ(v.m_dwType, DBVT_NULL) << row;
    } else {
      ASSERT_EQ(v.m_dwType, DBVT_STRING) << row;
      EXPECT_EQ(*v.m_pstring, texts[row % 6]) << row;
    }
    if (row % 4 == 1) {
      EXPECT_EQ(ts.m_dwType, DBVT_NULL) << row;
    } else {
      ASSERT_EQ(ts.m_dwType, DBVT_DATE) << row;
      EXPECT_EQ(ts.m_pdate->second, 10 + row % 50) << row;
      EXPECT_EQ(ts.m_pdate->day, 5) << row;
    }
    if (row % 5 == 2) {
      EXPECT_EQ(d.m_dwType, DBVT_NULL) << row;
    } else {
      ASSERT_EQ(d.m_dwType, DBVT_DOUBLE) << row;
      EXPECT_EQ(d.m_dblVal, row + 0.5) << row;
    }
  }
  EXPECT_EQ(row, 600);
}

// Text columns of any declared size, long ones and those of no size included, are bound into
// small buffers: values on either side of the buffer's end, with multi-byte characters across
// it, must arrive whole and exactly.
TEST_F(OdbcSqlite, TextOfEveryLengthArrivesWholeFromLongAndUnsizedColumns) {
  m_db.ExecuteSQL(L"CREATE TABLE t (n INTEGER, memo TEXT, wide VARCHAR(5000), bare)");
  std::vector<std::wstring> texts;
  for (std::size_t length : {0, 1, 63, 64, 84, 85, 86, 127, 128, 254, 255, 256, 257, 300, 1000, 20000}) {
    texts.push_back(std::wstring(length, L'a'));
    std::wstring mixed;  // three bytes, then four, then two: every alignment against the buffer's end
    while (mixed.size() < length) mixed += mixed.size() % 3 == 0 ? L"€" : mixed.size() % 3 == 1 ? L"😀" : L"é";
    texts.push_back(mixed);
  }
  for (std::size_t row = 0; row < texts.size(); ++row) {
    const std::wstring value = L"'" + texts[row] + L"'";
    m_db.ExecuteSQL(L"INSERT INTO t VALUES (" + std::to_wstring(row) + L", " + value + L", " + value + L", " +
                    (row % 3 == 1 ? std::wstring(L"NULL") : value) + L")");
  }
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT * FROM t ORDER BY n", CRecordset::readOnly);
  CDBVariant n, v;
  std::size_t row = 0;
  for (; !rs.IsEOF(); rs.MoveNext(), ++row) {
    rs.GetFieldValue(0, n);
    ASSERT_EQ(n.m_lVal, static_cast<std::int32_t>(row));
    for (std::int16_t c = 1; c <= 3; ++c) {
      rs.GetFieldValue(c, v);
      if (c == 3 && row % 3 == 1) {
        EXPECT_EQ(v.m_dwType, DBVT_NULL) << row;
        continue;
      }
      ASSERT_EQ(v.m_dwType, DBVT_STRING) << "row " << row << " column " << c;
      EXPECT_EQ(*v.m_pstring, texts[row]) << "row " << row << " column " << c;
    }
  }
  EXPECT_EQ(row, texts.size());
}

TEST_F(OdbcSqlite, TextRoundTripsExactlyIncludingCharactersBeyondTheBasicPlane) {
  const std::wstring text = L"O'Brien, Zoë, Ærøskøbing, Москва, 東京, \U0001F600\U0001F680 \U00020BB7";
  std::wstring literal;
  for (wchar_t c : text) literal += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
  // Long enough to need several reads, with a four-byte character across every chunk edge.
  std::wstring longText;
  while (longText.size() < 70000) longText += L"abc\U0001F600\U0001F600é";

  m_db.ExecuteSQL(L"CREATE TABLE \"Ünïcode \U0001F600\" (v VARCHAR(200), l TEXT)");
  m_db.ExecuteSQL(L"INSERT INTO \"Ünïcode \U0001F600\" VALUES ('" + literal + L"', '" + longText + L"')");
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT v AS \"värde \U0001F600\", l FROM \"Ünïcode \U0001F600\"",
          CRecordset::readOnly);
  CODBCFieldInfo info;
  rs.GetODBCFieldInfo(0, info);
  EXPECT_EQ(info.m_strName, L"värde \U0001F600");
  EXPECT_EQ(rs.GetTableName(), L"\"Ünïcode \U0001F600\"");
  CDBVariant v, l;
  rs.GetFieldValue(0, v);
  rs.GetFieldValue(1, l);
  ASSERT_EQ(v.m_dwType, DBVT_STRING);
  EXPECT_EQ(*v.m_pstring, text);
  ASSERT_EQ(l.m_dwType, DBVT_STRING);
  EXPECT_EQ(*l.m_pstring, longText);
}

// A value's kind and contents as text, so that two reads of one value can be compared.
std::wstring Describe(const CDBVariant& v) {
  std::wstring kind = std::to_wstring(v.m_dwType) + L":";
  switch (v.m_dwType) {
    case DBVT_NULL:
      return kind;
    case DBVT_BOOL:
      return kind + std::to_wstring(v.m_boolVal);
    case DBVT_SHORT:
      return kind + std::to_wstring(v.m_iVal);
    case DBVT_LONG:
      return kind + std::to_wstring(v.m_lVal);
    case DBVT_BIGINT:
      return kind + std::to_wstring(v.m_llVal);
    case DBVT_SINGLE:
      return kind + std::to_wstring(v.m_fltVal);
    case DBVT_DOUBLE:
      return kind + std::to_wstring(v.m_dblVal);
    case DBVT_DATE: {
      const TIMESTAMP_STRUCT& d = *v.m_pdate;
      return kind + std::to_wstring(d.year) + L"-" + std::to_wstring(d.month) + L"-" + std::to_wstring(d.day) + L" " +
             std::to_wstring(d.hour) + L":" + std::to_wstring(d.minute) + L":" + std::to_wstring(d.second) + L"." +
             std::to_wstring(d.fraction);
    }
    case DBVT_STRING:
      return kind + *v.m_pstring;
    case DBVT_WSTRING:
      return kind + *v.m_pstringW;
    case DBVT_BINARY: {
      std::wstring bytes;
      for (std::uint8_t b : v.m_pbinary->m_bytes) bytes += std::to_wstring(b) + L",";
      return kind + bytes;
    }
    default:
      return kind + L"?";
  }
}

// Rows captured as bytes and turned into values later must give exactly the values read at
// once, for every kind of column, nulls, values longer than their bound buffer, and batches
// that end anywhere in the result.
TEST_F(OdbcSqlite, CapturedRowsGiveTheValuesReadAtOnce) {
  m_db.ExecuteSQL(
      L"CREATE TABLE t (i INTEGER, s SMALLINT, v VARCHAR(5), lt TEXT, d DOUBLE, r REAL, num NUMERIC(10,2), b BIT, "
      L"dt DATE, ts TIMESTAMP, tm TIME, bi BIGINT, bin BLOB, bare)");
  std::wstring longText;
  while (longText.size() < 3000) longText += L"é\U0001F600x";
  for (int row = 0; row < 40; ++row) {
    const std::wstring n = std::to_wstring(row);
    if (row % 9 == 4) {
      m_db.ExecuteSQL(L"INSERT INTO t VALUES (NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL)");
      continue;
    }
    m_db.ExecuteSQL(L"INSERT INTO t VALUES (" + std::to_wstring(9007199254740000LL * (row % 3) - row) + L", " +
                    std::to_wstring(row * 1000) + L", '" + (row % 2 ? L"ab" : L"abcdefghijklmnopqrstuvwxyz") + L"', '" +
                    (row % 3 ? longText + n : n) + L"', " + n + L".25, " + n + L".5, " + n + L".01, " +
                    std::to_wstring(row % 2) + L", '2024-03-0" + std::to_wstring(1 + row % 9) +
                    L"', '2024-03-05 07:08:" + std::to_wstring(10 + row) + L"', '12:34:" + std::to_wstring(10 + row) +
                    L"', 9007199254740993, X'00FF" + (row % 2 ? L"10" : L"") + L"', 'x" + n + L"')");
  }
  const std::wstring query = L"SELECT * FROM t";
  std::vector<std::wstring> atOnce;
  {
    CRecordset rs(&m_db);
    rs.Open(CRecordset::forwardOnly, query, CRecordset::readOnly);
    CDBVariant value;
    for (; !rs.IsEOF(); rs.MoveNext()) {
      for (std::int16_t c = 0; c < rs.GetODBCFieldCount(); ++c) {
        rs.GetFieldValue(c, value);
        atOnce.push_back(Describe(value));
      }
    }
  }
  ASSERT_EQ(atOnce.size(), 40u * 14u);
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, query, CRecordset::readOnly);
  std::vector<std::wstring> captured;
  CRowBatch batch;
  CDBVariant value;
  const auto drain = [&] {
    for (std::size_t row = 0; row < batch.RowCount(); ++row) {
      for (std::int16_t c = 0; c < 14; ++c) {
        batch.GetValue(row, c, value);
        captured.push_back(Describe(value));
      }
    }
    batch.Clear();
  };
  for (; !rs.IsEOF(); rs.MoveNext()) {
    rs.CaptureRow(batch);
    if (batch.RowCount() == 7) drain();
  }
  drain();
  ASSERT_EQ(captured.size(), atOnce.size());
  for (std::size_t i = 0; i < atOnce.size(); ++i)
    EXPECT_EQ(captured[i], atOnce[i]) << "row " << i / 14 << " column " << i % 14;
  EXPECT_THROW(batch.GetValue(0, 0, value), CDBException);
}

TEST_F(OdbcSqlite, ForwardOnlyWalkEndsAtEofAndGoesNoFurther) {
  m_db.ExecuteSQL(L"CREATE TABLE r (n INTEGER)");
  CRecordset empty(&m_db);
  empty.Open(CRecordset::forwardOnly, L"SELECT n FROM r", CRecordset::readOnly);
  EXPECT_TRUE(empty.IsEOF());
  EXPECT_EQ(empty.GetODBCFieldCount(), 1);
  EXPECT_EQ(empty.GetTableName(), L"r");

  m_db.ExecuteSQL(L"INSERT INTO r VALUES (1),(2),(3)");
  CRecordset rs(&m_db);
  rs.Open(CRecordset::forwardOnly, L"SELECT n FROM r ORDER BY n", CRecordset::readOnly);
  std::int32_t sum = 0;
  int rows = 0;
  for (; !rs.IsEOF(); rs.MoveNext(), ++rows) {
    CDBVariant v;
    rs.GetFieldValue(0, v);
    sum += v.m_lVal;
  }
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(sum, 6);
  EXPECT_THROW(rs.MoveNext(), CDBException);
  CDBVariant after;
  EXPECT_THROW(rs.GetFieldValue(0, after), CDBException);
}

TEST_F(OdbcSqlite, DriverErrorsCarryMessageAndSqlState) {
  CRecordset rs(&m_db);
  try {
    rs.Open(CRecordset::forwardOnly, L"SELECT * FROM missing_table", CRecordset::readOnly);
    FAIL() << "no exception";
  } catch (const CDBException& e) {
    EXPECT_NE(e.m_strError.find(L"missing_table"), std::wstring::npos) << std::string(e.what());
    EXPECT_EQ(e.m_strSqlState.size(), 5u);
    EXPECT_NE(e.m_strError.find(L"(SQLSTATE " + e.m_strSqlState + L")"), std::wstring::npos);
  }
  EXPECT_FALSE(rs.IsOpen());
  // Only forward-only, read-only results exist.
  EXPECT_THROW(rs.Open(CRecordset::dynaset, L"SELECT 1", CRecordset::readOnly), CDBException);
  EXPECT_THROW(m_db.ExecuteSQL(L"THIS IS NOT SQL"), CDBException);
}

TEST(OdbcConnect, AnUninstalledDriverIsNamedInTheError) {
  CDatabase db;
  try {
    db.OpenEx(L"DRIVER={No Such Driver 9};DBQ=/tmp/x");
    FAIL() << "no exception";
  } catch (const CDBException& e) {
    EXPECT_NE(e.m_strError.find(L"'No Such Driver 9' is not installed"), std::wstring::npos) << std::string(e.what());
  }
  EXPECT_FALSE(db.IsOpen());
}

}  // namespace
}  // namespace quillon::odbc

// The SQL text of an export, built from real result columns and rows of the SQLite driver.
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "drivers/sql/Statement.h"
#include "drivers/sql/ValueCheck.h"
#include "engine/StatementBuilders.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/text/WideText.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/TempDir.h"

namespace quillon::engine {
namespace {

using odbc::CODBCFieldInfo;

CODBCFieldInfo Field(std::int16_t type, std::uint32_t precision) {
  CODBCFieldInfo f;
  f.m_nSQLType = type;
  f.m_nPrecision = precision;
  return f;
}

TEST(ColumnTypes, ByTypeCodePrecisionAndFormat) {
  struct Case {
    std::int16_t type;
    std::uint32_t precision;
    const wchar_t* excel;
    const wchar_t* access;
  };
  const Case cases[] = {
      {odbc::SQL_CODE_BIT, 1, L"BIT", L"BIT"},
      {odbc::SQL_CODE_DOUBLE, 15, L"DOUBLE", L"DOUBLE"},
      // Precision 1 holds 7, -3 or 0.5 as well: a Yes/No field would turn them into Yes.
      {odbc::SQL_CODE_DECIMAL, 1, L"DOUBLE", L"DOUBLE"},
      {odbc::SQL_CODE_DOUBLE, 1, L"DOUBLE", L"DOUBLE"},
      {odbc::SQL_CODE_INTEGER, 10, L"INTEGER", L"INTEGER"},
      {odbc::SQL_CODE_SMALLINT, 5, L"SMALLINT", L"SMALLINT"},
      {odbc::SQL_CODE_TIMESTAMP, 19, L"DATE", L"DATE"},
      {odbc::SQL_CODE_VARCHAR, 254, L"TEXT", L"VARCHAR(254)"},
      // 255 is what drivers report for text of unknown length, 0 no length at all: a Memo takes
      // the values whole.
      {odbc::SQL_CODE_VARCHAR, 255, L"TEXT", L"MEMO"},
      {odbc::SQL_CODE_VARCHAR, 256, L"TEXT", L"MEMO"},
      {odbc::SQL_CODE_VARCHAR, 0, L"TEXT", L"MEMO"},
      {odbc::SQL_CODE_WVARCHAR, 255, L"TEXT", L"MEMO"},
      // Long and wide text take the VARCHAR rule, so long values find room in a MEMO.
      {odbc::SQL_CODE_LONGVARCHAR, 65536, L"TEXT", L"MEMO"},
      {odbc::SQL_CODE_WLONGVARCHAR, 100, L"TEXT", L"VARCHAR(100)"},
      {odbc::SQL_CODE_WVARCHAR, 4000, L"TEXT", L"MEMO"},
      {odbc::SQL_CODE_WCHAR, 10, L"TEXT", L"VARCHAR(10)"},
      // Bytes stay bytes in an OLE Object; a sheet shows their hexadecimal text.
      {odbc::SQL_CODE_BINARY, 4, L"TEXT", L"LONGBINARY"},
      {odbc::SQL_CODE_VARBINARY, 255, L"TEXT", L"LONGBINARY"},
      {odbc::SQL_CODE_LONGVARBINARY, 0, L"TEXT", L"LONGBINARY"},
      // Everything else is text of the widest plain kind.
      {odbc::SQL_CODE_FLOAT, 15, L"TEXT", L"VARCHAR(255)"},
      {odbc::SQL_CODE_REAL, 7, L"TEXT", L"VARCHAR(255)"},
      {odbc::SQL_CODE_DATE, 10, L"TEXT", L"VARCHAR(255)"},
      {odbc::SQL_CODE_TINYINT, 3, L"TEXT", L"VARCHAR(255)"},
      {odbc::SQL_CODE_BIGINT, 19, L"TEXT", L"VARCHAR(255)"},
      {odbc::SQL_CODE_CHAR, 10, L"TEXT", L"VARCHAR(255)"},
      {93, 19, L"TEXT", L"VARCHAR(255)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ColumnTypeSql(Field(c.type, c.precision), FormatExcel), c.excel) << c.type << "/" << c.precision;
    EXPECT_EQ(ColumnTypeSql(Field(c.type, c.precision), FormatAccess), c.access) << c.type << "/" << c.precision;
  }
}

// The typed formats type a column by its kind of value alone, ODBC 2's and 3's date codes alike.
TEST(ColumnTypes, TypedFormatsByKindOfValue) {
  const std::pair<std::int16_t, const wchar_t*> cases[] = {
      {odbc::SQL_CODE_BIT, L"BIT"},
      {odbc::SQL_CODE_TINYINT, L"INTEGER"},
      {odbc::SQL_CODE_SMALLINT, L"INTEGER"},
      {odbc::SQL_CODE_INTEGER, L"INTEGER"},
      {odbc::SQL_CODE_BIGINT, L"INTEGER"},
      {odbc::SQL_CODE_FLOAT, L"DOUBLE"},
      {odbc::SQL_CODE_REAL, L"DOUBLE"},
      {odbc::SQL_CODE_DOUBLE, L"DOUBLE"},
      {odbc::SQL_CODE_DECIMAL, L"TEXT"},
      {odbc::SQL_CODE_NUMERIC, L"TEXT"},
      {odbc::SQL_CODE_DATE, L"DATE"},
      {91, L"DATE"},
      {odbc::SQL_CODE_TIMESTAMP, L"TIMESTAMP"},
      {93, L"TIMESTAMP"},
      {odbc::SQL_CODE_TIME, L"TIME"},
      {92, L"TIME"},
      {odbc::SQL_CODE_WVARCHAR, L"TEXT"},
      {odbc::SQL_CODE_LONGVARBINARY, L"TEXT"},
  };
  for (const OutputFormat format : {FormatXlsx, FormatText, FormatCsv}) {
    for (const auto& [type, sql] : cases) EXPECT_EQ(ColumnTypeSql(Field(type, 10), format), sql) << type;
  }
}

TEST(DateValues, PatternTokensInOrderWithoutPadding) {
  const DateParts d{2024, 3, 5, 7, 8, 9};
  EXPECT_EQ(FormatDateValue(d, L""), L"5.3.2024 7:8:9");
  EXPECT_EQ(FormatDateValue(d, L" \t "), L"5.3.2024 7:8:9");
  EXPECT_EQ(FormatDateValue(d, L"  %y-%m-%d %H:%M "), L"2024-3-5 7:8");
  EXPECT_EQ(FormatDateValue(d, L"%Y/%d"), L"%Y/5");
  EXPECT_EQ(FormatDateValue(DateParts{-44, 12, 31, 23, 59, 0}, L"%y|%S"), L"-44|0");
  // A percent sign that starts no token stays, and the one after it may start a token.
  EXPECT_EQ(FormatDateValue(d, L"%%d %d%d %"), L"%5 55 %");
  EXPECT_EQ(FormatDateValue(d, L"%%%m%H%%"), L"%%37%%");
  // A long pattern is written whole, however the writing gathers its pieces.
  std::wstring longPattern, longDate;
  for (int i = 0; i < 100; ++i) longPattern += L"%y-%d:", longDate += L"2024-5:";
  EXPECT_EQ(FormatDateValue(d, longPattern), longDate);
}

class BuildersOnSqlite : public ::testing::Test {
 protected:
  void SetUp() override { m_db.OpenEx(L"DRIVER=SQLite3;Database=" + (m_dir / "b.db").wstring()); }
  std::unique_ptr<odbc::CRecordset> Query(const std::wstring& sql) {
    auto rs = std::make_unique<odbc::CRecordset>(&m_db);
    rs->Open(odbc::CRecordset::forwardOnly, sql, odbc::CRecordset::readOnly);
    return rs;
  }

  testing::TempDir m_dir;
  odbc::CDatabase m_db;
  RecordingHost m_host;
};

TEST_F(BuildersOnSqlite, CreateTemplateForEachFormat) {
  m_db.ExecuteSQL(L"CREATE TABLE p (ID INTEGER, Name VARCHAR(50), \"Unit Price\" DOUBLE)");
  auto rs = Query(L"SELECT * FROM p");
  EXPECT_EQ(BuildCreateTableSql(*rs, FormatAccess),
            L"CREATE TABLE %s ([ID] INTEGER,[Name] VARCHAR(50),'Unit Price' DOUBLE);");
  EXPECT_EQ(BuildCreateTableSql(*rs, FormatExcel), L"CREATE TABLE %s ([ID] INTEGER,[Name] TEXT,'Unit Price' DOUBLE);");
}

TEST_F(BuildersOnSqlite, ColumnNamesAreBracketedOrQuotedAndLoseTheirFullStops) {
  // LongNames: the driver reports a column named a.b.c as such, not as c.
  odbc::CDatabase longNames;
  longNames.OpenEx(L"DRIVER=SQLite3;LongNames=1;Database=" + (m_dir / "b.db").wstring());
  auto rs = std::make_unique<odbc::CRecordset>(&longNames);
  rs->Open(odbc::CRecordset::forwardOnly,
           L"SELECT 1 AS Qty, 1 AS \"Unit Price\", 1 AS \"R&D\", 1 AS \"x-y\", 1 AS \"a.b.c\", 1 AS \"Pct%\"",
           odbc::CRecordset::readOnly);
  const std::wstring sql = BuildCreateTableSql(*rs, FormatExcel);
  EXPECT_EQ(sql.substr(0, 17), L"CREATE TABLE %s (");
  EXPECT_NE(sql.find(L"[Qty] "), std::wstring::npos);
  EXPECT_NE(sql.find(L"'Unit Price' "), std::wstring::npos);
  EXPECT_NE(sql.find(L"'R&D' "), std::wstring::npos);
  EXPECT_NE(sql.find(L"'x-y' "), std::wstring::npos);
  EXPECT_NE(sql.find(L"[abc] "), std::wstring::npos) << sql;
  // The percent sign of a name survives filling in the table name.
  const std::wstring filled = FillCreateTemplate(sql, L"Results");
  EXPECT_EQ(filled.substr(0, 22), L"CREATE TABLE Results (");
  EXPECT_NE(filled.find(L"[Pct%] "), std::wstring::npos);
  EXPECT_EQ(filled.substr(filled.size() - 2), L");");
}

TEST_F(BuildersOnSqlite, NamesAreEscapedInsideTheirQuotesAndRepeatsGetASuffix) {
  auto rs = Query(L"SELECT 1 AS \"a]b\", 2 AS \"Customer's Name\", 3 AS \"x-y ]\", 4 AS \"it's\", 5 AS \"A]B\"");
  EXPECT_EQ(
      BuildCreateTableSql(*rs, FormatExcel),
      L"CREATE TABLE %s ([a]]b] INTEGER,'Customer''s Name' INTEGER,'x-y ]' INTEGER,[it's] INTEGER,[A]]B_2] INTEGER);");
  const auto access = OutputColumnNames(*rs, FormatAccess);
  EXPECT_EQ(access[0].name, L"a_b");
  EXPECT_NE(access[0].why.find(L"Access field name"), std::wstring::npos);
  EXPECT_EQ(access[2].name, L"x-y _");
  EXPECT_EQ(access[3].name, L"it's");
  EXPECT_EQ(access[3].why, L"");
  EXPECT_EQ(access[4].name, L"A_B_2");
}

// The drivers refuse such repeats, whatever the process locale; the run renames them first.
TEST_F(BuildersOnSqlite, RepeatsDifferingOnlyInLetterCaseAreRenamedInEveryAlphabetTheDriversFold) {
  auto rs =
      Query(L"SELECT 1 AS \"é\", 2 AS \"É\", 3 AS \"δ\", 4 AS \"Δ\", 5 AS \"ж\", 6 AS \"Ж\", 7 AS \"ł\", 8 AS \"Ł\"");
  for (OutputFormat format : {FormatExcel, FormatAccess}) {
    const auto names = OutputColumnNames(*rs, format);
    ASSERT_EQ(names.size(), 8u);
    for (std::size_t i = 0; i < names.size(); i += 2) {
      EXPECT_EQ(names[i + 1].name, names[i + 1].sourceName + L"_2") << text::WideToUtf8(names[i + 1].sourceName);
    }
  }
}

TEST_F(BuildersOnSqlite, WideIntegersTimesAndNonFiniteDoublesAreWrittenWhole) {
  m_db.ExecuteSQL(L"CREATE TABLE w (i INTEGER, s SMALLINT, t TIME, f DOUBLE)");
  m_db.ExecuteSQL(
      L"INSERT INTO w VALUES (9007199254740993, -9223372036854775808, '23:59:59', 9e999), "
      L"(-2147483649, 40000, '07:08:09', -9e999)");
  auto rs = Query(L"SELECT * FROM w");
  m_host.datePattern = L"%d/%m/%y %H.%M.%S";
  EXPECT_EQ(BuildInsertSql(*rs, L"w", m_host),
            L"INSERT INTO w VALUES(9007199254740993,-9223372036854775808,'23.59.59',Infinity);");
  rs->MoveNext();
  m_host.datePattern = L"%d/%m/%y";
  EXPECT_EQ(BuildInsertSql(*rs, L"w", m_host), L"INSERT INTO w VALUES(-2147483649,40000,'7:8:9',-Infinity);");
}

TEST_F(BuildersOnSqlite, InsertWritesEachValueByItsKindAndColumn) {
  m_db.ExecuteSQL(L"CREATE TABLE r (i INTEGER, s VARCHAR(20), d DOUBLE, n INTEGER)");
  m_db.ExecuteSQL(L"INSERT INTO r VALUES (1, 'O''Brien', 2.5, NULL)");
  auto rs = Query(L"SELECT * FROM r");
  EXPECT_EQ(BuildInsertSql(*rs, L"Results", m_host), L"INSERT INTO Results VALUES(1,'O''Brien',2.5,NULL);");
}

TEST_F(BuildersOnSqlite, RowAfterRowEachValueIsWrittenAfreshWhateverTheRowBefore) {
  // Values of changing kinds, nulls and apostrophes at every place, in a column declared shorter
  // than some of its values.
  m_db.ExecuteSQL(L"CREATE TABLE m (a VARCHAR(4), b TIMESTAMP, c INTEGER)");
  m_db.ExecuteSQL(
      L"INSERT INTO m VALUES ('''', '2024-03-05 07:08:09', 1), (NULL, NULL, NULL), ('a''''b''', '1999-12-31', -2), "
      L"('long enough to outgrow the column', NULL, 3), (7, '2000-01-02 03:04:05', NULL)");
  auto rs = Query(L"SELECT * FROM m");
  const std::wstring expected[] = {
      L"INSERT INTO m VALUES('''','5.3.2024 7:8:9',1);",
      L"INSERT INTO m VALUES(NULL,NULL,NULL);",
      L"INSERT INTO m VALUES('a''''b''','31.12.1999 0:0:0',-2);",
      L"INSERT INTO m VALUES('long enough to outgrow the column',NULL,3);",
      L"INSERT INTO m VALUES('7','2.1.2000 3:4:5',NULL);",
  };
  InsertScratch scratch;  // carried from row to row, as an export does
  for (const std::wstring& row : expected) {
    ASSERT_FALSE(rs->IsEOF());
    EXPECT_EQ(BuildInsertSql(*rs, L"m", m_host, scratch), row);
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->IsEOF());
}

TEST_F(BuildersOnSqlite, OnlyARealNullIsWrittenNull) {
  m_db.ExecuteSQL(L"CREATE TABLE t (a VARCHAR(9), b VARCHAR(9), c VARCHAR(9), d VARCHAR(9))");
  m_db.ExecuteSQL(L"INSERT INTO t VALUES (NULL, 'NULL', 'null', '')");
  auto rs = Query(L"SELECT * FROM t");
  EXPECT_EQ(BuildInsertSql(*rs, L"t", m_host), L"INSERT INTO t VALUES(NULL,'NULL','null','');");
}

TEST_F(BuildersOnSqlite, NumbersKeepEveryDigitTheyHave) {
  m_db.ExecuteSQL(L"CREATE TABLE f (a DOUBLE, b DOUBLE, c DOUBLE, ti TINYINT, bi BIGINT, bit BIT)");
  m_db.ExecuteSQL(L"INSERT INTO f VALUES (0.0000001, 0.1, -1234567.890123, 200, 9007199254740993, 1)");
  auto rs = Query(L"SELECT * FROM f");
  EXPECT_EQ(BuildInsertSql(*rs, L"f", m_host),
            L"INSERT INTO f VALUES(1e-07,0.1,-1234567.890123,200,9007199254740993,1);");
}

TEST_F(BuildersOnSqlite, DatesFollowTheHostsPatternAndBinaryBecomesHex) {
  m_db.ExecuteSQL(L"CREATE TABLE d (ts TIMESTAMP, dt DATE, bin BLOB)");
  m_db.ExecuteSQL(L"INSERT INTO d VALUES ('2024-03-05 07:08:09', '1999-12-31', X'00FF10')");
  auto rs = Query(L"SELECT * FROM d");
  EXPECT_EQ(BuildInsertSql(*rs, L"d", m_host), L"INSERT INTO d VALUES('5.3.2024 7:8:9','31.12.1999 0:0:0',0x00FF10);");
  m_host.datePattern = L"%y-%m-%d";
  auto again = Query(L"SELECT ts FROM d");
  EXPECT_EQ(BuildInsertSql(*again, L"d", m_host), L"INSERT INTO d VALUES('2024-3-5');");
}

TEST_F(BuildersOnSqlite, LiteralsHoldValuesAsTheyAreAndRenderToTheStatementsText) {
  m_db.ExecuteSQL(L"CREATE TABLE l (i INTEGER, s VARCHAR(20), d DOUBLE, t TIMESTAMP, b BIT, bi BIGINT, v VARCHAR(9))");
  m_db.ExecuteSQL(
      L"INSERT INTO l VALUES (-5, 'it''s ''quoted''', -0.5, '1850-01-02 03:04:05', 1, 9223372036854775807, "
      L"NULL), (NULL, '', 1e300, NULL, 0, -1, 'x')");
  auto rs = Query(L"SELECT * FROM l");
  const std::vector<std::int16_t> types = ColumnSqlTypes(*rs);
  std::vector<odbc::CDBVariant> row;
  std::vector<odbc::Literal> literals;
  using Kind = odbc::Literal::Kind;
  ReadRow(*rs, row);
  const std::wstring pattern(EffectiveDatePattern(m_host.GetDatePattern()));
  BuildInsertLiterals(row, types, pattern, m_host, literals);
  // Numbers and dates come as values, unwritten; their text is the renderer's.
  const std::vector<std::pair<Kind, std::wstring>> first = {
      {Kind::Integer, L"-5"},  {Kind::Text, L"it's 'quoted'"},
      {Kind::Double, L"-0.5"}, {Kind::DateTime, L"2.1.1850 3:4:5"},
      {Kind::Boolean, L"1"},   {Kind::Number, L"9223372036854775807"},
      {Kind::Null, L""}};
  ASSERT_EQ(literals.size(), first.size());
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(literals[i].kind, first[i].first) << i;
    std::wstring text;
    odbc::AppendLiteralText(text, literals[i]);
    EXPECT_EQ(text, first[i].second) << i;
  }
  std::wstring sql = L"left over from before";
  RenderInsertSql(L"l", literals, sql);
  EXPECT_EQ(sql, L"INSERT INTO l VALUES(-5,'it''s ''quoted''',-0.5,'2.1.1850 3:4:5',1,9223372036854775807,NULL);");

  // The next row in the same storage: nothing of the first stays.
  rs->MoveNext();
  ReadRow(*rs, row);
  BuildInsertLiterals(row, types, pattern, m_host, literals);
  RenderInsertSql(L"l", literals, sql);
  EXPECT_EQ(sql, L"INSERT INTO l VALUES(NULL,'',1e+300,NULL,0,-1,'x');");
}

TEST_F(BuildersOnSqlite, AResultWithoutColumnsGivesTheBarePrefixes) {
  m_db.ExecuteSQL(L"CREATE TABLE z (x INTEGER)");
  auto rs = Query(L"UPDATE z SET x = 1 WHERE 0");
  EXPECT_EQ(rs->GetODBCFieldCount(), 0);
  EXPECT_EQ(BuildCreateTableSql(*rs, FormatAccess), L"CREATE TABLE %s (");
}

// Numbers the engine writes itself say so, and each such text reads back from the INSERT text
// as that very number token; number text a source gave (or a null) never claims it.
TEST(BuildInsertLiterals, NumbersWrittenByTheEngineAreOneNumberToken) {
  constexpr std::size_t kValues = 16;
  std::vector<odbc::CDBVariant> row(kValues + 3);
  std::size_t at = 0;
  row[at++].SetBool(true);
  row[at++].SetShort(std::numeric_limits<std::int16_t>::min());
  row[at++].SetLong(std::numeric_limits<std::int32_t>::min());
  row[at++].SetBigInt(std::numeric_limits<std::int64_t>::min());
  row[at++].SetBigInt(std::numeric_limits<std::int64_t>::max());
  row[at++].SetSingle(std::numeric_limits<float>::denorm_min());
  row[at++].SetSingle(-std::numeric_limits<float>::max());
  row[at++].SetDouble(-0.0);
  row[at++].SetDouble(std::numeric_limits<double>::denorm_min());
  row[at++].SetDouble(-std::numeric_limits<double>::max());
  row[at++].SetDouble(1e16);
  row[at++].SetDouble(123456789012345678.0);
  row[at++].SetDouble(0.1);
  row[at++].SetDouble(std::numeric_limits<double>::quiet_NaN());
  row[at++].SetDouble(std::numeric_limits<double>::infinity());
  row[at++].SetDouble(-std::numeric_limits<double>::infinity());
  ASSERT_EQ(at, kValues);
  row[at++].SetString(L"12");  // a source's own text for a number column
  row[at++].SetAString("1.5");
  at++;  // null
  std::vector<std::int16_t> types(row.size(), odbc::SQL_CODE_DOUBLE);
  RecordingHost host;
  std::vector<odbc::Literal> literals(row.size());
  for (odbc::Literal& literal : literals) {
    literal.wellFormed = literal.holdsNumber = true;  // left over from an earlier row
  }
  BuildInsertLiterals(row, types, kDefaultDatePattern, host, literals);
  std::wstring sql;
  RenderInsertSql(L"t", literals, sql);
  const auto parsed = std::get<drivers::sql::Insert>(drivers::sql::Parse(sql));
  ASSERT_EQ(parsed.values.size(), row.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    std::wstring text;
    odbc::AppendLiteralText(text, literals[i]);
    // Integers, doubles and bits go as values; a float as the number text it is written as.
    const bool isFloat = row[i].m_dwType == odbc::DBVT_SINGLE;
    EXPECT_EQ(literals[i].IsTyped() || literals[i].wellFormed, i < kValues) << i << ": " << text;
    EXPECT_EQ(literals[i].wellFormed, isFloat) << i;
    if (i >= kValues) {
      EXPECT_FALSE(literals[i].holdsNumber) << i;
      continue;
    }
    EXPECT_EQ(parsed.values[i].kind, odbc::Literal::Kind::Number) << i;
    EXPECT_EQ(parsed.values[i].text, text) << i;
    // A double the literal holds is exactly, bit for bit, the one its text reads as.
    double read = 0;
    if (literals[i].kind == odbc::Literal::Kind::Double && drivers::sql::ParseNumber(text, read)) {
      EXPECT_EQ(std::memcmp(&read, &literals[i].number, sizeof read), 0) << i << ": " << text;
    }
    // A float's shortest text reads as another double than the float widened: it holds none.
    if (isFloat) EXPECT_FALSE(literals[i].holdsNumber) << i;
  }
}

}  // namespace
}  // namespace quillon::engine

// Every value of an ordinary PostgreSQL source reaches .xls, .xlsx and .mdb exactly, or the run
// says row by row why it did not; read back by xlrd, openpyxl with pandas, and mdbtools.
#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "engine/ExportRun.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "tests/engine/ExportTestSupport.h"
#include "tests/support/PostgresServer.h"

namespace quillon::engine {
namespace {

using quillon::testing::DumpXls;
using quillon::testing::ReadAccessSchema;
using quillon::testing::ReadAccessTable;
using testing::AnyStartsWith;
using testing::Contains;

class ExportValuesFromPostgres : public testing::ExportFixture {
 protected:
  static void SetUpTestSuite() {
    drivers::RegisterBuiltInDrivers();
    s_server = new quillon::testing::PostgresServer;
    odbc::CDatabase db;
    db.OpenEx(s_server->ConnectString());
    for (const wchar_t* sql : {
             L"CREATE TABLE ints (n int, i int8, j int4)",
             L"INSERT INTO ints VALUES (1, 2147483647, 2147483647), (2, 2147483648, -2147483648), "
             L"(3, 9007199254740993, 0), (4, -9223372036854775808, 1)",
             L"CREATE TABLE floats (n int, f float8)",
             L"INSERT INTO floats VALUES (1, 0.123456789012345), (2, 0.1::float8 + 0.2::float8), "
             L"(3, 1::float8 / 3), (4, 'NaN'), (5, 'Infinity'), (6, '-Infinity'), (7, '-0'), (8, 2.5), "
             L"(9, 1234567890123456)",
             L"CREATE TABLE times (n int, t time, ts timestamp)",
             L"INSERT INTO times VALUES (1, '23:59:59', '2024-03-05 07:08:09'), (2, '00:00:01', '2024-12-31 23:59:59')",
             L"CREATE TABLE infs (n int, ts timestamp, d date)",
             L"INSERT INTO infs VALUES (1, 'infinity', '2024-03-05'), (2, '-infinity', '9999-12-31'), "
             L"(3, '9999-12-31 23:59:59', '0001-01-01'), (4, '2024-01-01', 'infinity'), (5, NULL, '-infinity'), "
             L"(6, '2024-01-01 10:00:00', '0001-01-01')",
             L"CREATE TABLE texts (n int, v varchar)",
             L"INSERT INTO texts VALUES (1, repeat('x', 300)), (2, repeat('y', 70000)), (3, 'short')",
             L"CREATE TABLE customers (\"CustomerID\" int, name varchar(20))",
             L"INSERT INTO customers VALUES (1, 'Ada')",
             L"CREATE TABLE orders (\"OrderID\" int, \"CustomerID\" int)",
             L"INSERT INTO orders VALUES (10, 1)",
             L"CREATE TABLE kinds (n int, i int8, f float8, p numeric(21,5), b bool, t time, d date, ts timestamp, "
             L"s varchar, x bytea)",
             L"INSERT INTO kinds VALUES (1, 2147483648, 0.1::float8 + 0.2::float8, 12345.5, true, '23:59:59', "
             L"'2024-03-05', '2024-03-05 07:08:09', 'Ada & <Grace>', '\\x00ff'), (2, 9007199254740993, 'NaN', "
             L"1234567890123456.12345, false, '00:00:01', '2024-12-31', '2024-12-31 23:59:59', '12', ''), "
             L"(3, -9223372036854775808, '-0', NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
             L"CREATE TABLE victims (v int)",
             L"INSERT INTO victims VALUES (1), (2), (3)",
             L"CREATE PROCEDURE noop() LANGUAGE sql AS $$ SELECT 1 $$",
         }) {
      db.ExecuteSQL(sql);
    }
  }
  static void TearDownTestSuite() { delete s_server; }

  void SetUp() override { m_source.OpenEx(s_server->ConnectString()); }

  static inline quillon::testing::PostgresServer* s_server = nullptr;
};

TEST_F(ExportValuesFromPostgres, IntegersArriveAtFullWidth) {
  const auto xls = m_dir / "ints.xls";
  ASSERT_TRUE(Export(L"SELECT i, j FROM ints ORDER BY n", xls, FormatExcel));
  const auto cells = DumpXls(xls);
  for (const char* expected :
       {"0\t1\t0\tnumber\t2147483647.0", "0\t2\t0\tnumber\t2147483648.0", "0\t3\t0\ttext\t9007199254740993",
        "0\t4\t0\ttext\t-9223372036854775808", "0\t2\t1\tnumber\t-2147483648.0"}) {
    EXPECT_TRUE(Contains(cells, expected)) << expected;
  }
  const auto mdb = m_dir / "ints.mdb";
  ASSERT_TRUE(Export(L"SELECT i, j FROM ints ORDER BY n", mdb, FormatAccess));
  EXPECT_TRUE(m_host.rowErrors.empty());
  EXPECT_EQ(ReadAccessTable(mdb, "ints"),
            (std::vector<std::string>{"i,j", "\"2147483647\",2147483647", "\"2147483648\",-2147483648",
                                      "\"9007199254740993\",0", "\"-9223372036854775808\",1"}));
}

// openpyxl's reading, "column<TAB>kind<TAB>value<TAB>number format" per cell; pandas reads the same.
TEST_F(ExportValuesFromPostgres, EveryKindOfValueArrivesInAWorkbook) {
  const auto xlsx = m_dir / "kinds.xlsx";
  ASSERT_TRUE(Export(L"SELECT i, f, p, b, t, d, ts, s, x FROM kinds ORDER BY n", xlsx, FormatXlsx));
  EXPECT_TRUE(m_host.rowErrors.empty()) << m_host.rowErrors.front();
  std::string error;
  const auto cells = quillon::testing::DumpXlsx(xlsx, &error);
  ASSERT_FALSE(cells.empty()) << error;
  // Beyond 15 digits an integer or a decimal keeps its exact digits as text; the cell holds -0, which
  // openpyxl reads as the integer 0; NULL leaves its cell empty.
  EXPECT_EQ(std::vector<std::string>(cells.begin() + 10, cells.end()),
            (std::vector<std::string>{"0\t1\t0\tnumber\t2147483648\tGeneral",
                                      "0\t1\t1\tnumber\t0.30000000000000004\tGeneral",
                                      "0\t1\t2\tnumber\t12345.5\tGeneral",
                                      "0\t1\t3\tbool\ttrue\tGeneral",
                                      "0\t1\t4\ttime\t23:59:59\thh:mm:ss",
                                      "0\t1\t5\tdate\t2024-03-05 00:00:00\tyyyy-mm-dd",
                                      "0\t1\t6\tdate\t2024-03-05 07:08:09\tyyyy-mm-dd hh:mm:ss",
                                      "0\t1\t7\ttext\tAda & <Grace>\tGeneral",
                                      "0\t1\t8\ttext\t0x00FF\tGeneral",
                                      "0\t2\t0\ttext\t9007199254740993\tGeneral",
                                      "0\t2\t1\terror\t#NUM!\tGeneral",
                                      "0\t2\t2\ttext\t1234567890123456.12345\tGeneral",
                                      "0\t2\t3\tbool\tfalse\tGeneral",
                                      "0\t2\t4\ttime\t00:00:01\thh:mm:ss",
                                      "0\t2\t5\tdate\t2024-12-31 00:00:00\tyyyy-mm-dd",
                                      "0\t2\t6\tdate\t2024-12-31 23:59:59\tyyyy-mm-dd hh:mm:ss",
                                      "0\t2\t7\ttext\t12\tGeneral",
                                      "0\t2\t8\ttext\t0x\tGeneral",
                                      "0\t3\t0\ttext\t-9223372036854775808\tGeneral",
                                      "0\t3\t1\tnumber\t0\tGeneral"}));
}

TEST_F(ExportValuesFromPostgres, DoublesAreNumbersWithEveryDigitAndNonFiniteValuesKeepTheirRow) {
  const auto xls = m_dir / "floats.xls";
  ASSERT_TRUE(Export(L"SELECT f FROM floats ORDER BY n", xls, FormatExcel));
  const auto cells = DumpXls(xls);
  for (const char* expected :
       {"0\t1\t0\tnumber\t0.123456789012345", "0\t2\t0\tnumber\t0.30000000000000004",
        "0\t3\t0\tnumber\t0.3333333333333333", "0\t4\t0\terror\t36", "0\t5\t0\terror\t36", "0\t6\t0\terror\t36",
        "0\t7\t0\tnumber\t-0.0", "0\t8\t0\tnumber\t2.5", "0\t9\t0\tnumber\t1234567890123456.0"}) {
    EXPECT_TRUE(Contains(cells, expected)) << expected;
  }
  // Access takes float8 as text (its exact shortest form), NaN and the infinities as words.
  const auto mdb = m_dir / "floats.mdb";
  ASSERT_TRUE(Export(L"SELECT f FROM floats ORDER BY n", mdb, FormatAccess));
  EXPECT_TRUE(m_host.rowErrors.empty()) << m_host.rowErrors.front();
  EXPECT_EQ(ReadAccessTable(mdb, "floats"),
            (std::vector<std::string>{"f", "\"0.123456789012345\"", "\"0.30000000000000004\"", "\"0.3333333333333333\"",
                                      "\"NaN\"", "\"Infinity\"", "\"-Infinity\"", "\"-0\"", "\"2.5\"",
                                      "\"1.234567890123456e+15\""}));
}

TEST_F(ExportValuesFromPostgres, TimesHaveNoDateAndTimestampsFollowThePattern) {
  m_host.datePattern = L"%d/%m/%y %H:%M:%S";
  const auto xls = m_dir / "times.xls";
  ASSERT_TRUE(Export(L"SELECT t, ts FROM times ORDER BY n", xls, FormatExcel));
  const auto cells = DumpXls(xls);
  EXPECT_TRUE(Contains(cells, "0\t1\t0\ttext\t23:59:59"));
  EXPECT_TRUE(Contains(cells, "0\t2\t0\ttext\t0:0:1"));
  const auto stamp =
      std::find_if(cells.begin(), cells.end(), [](const std::string& l) { return l.rfind("0\t1\t1\t", 0) == 0; });
  ASSERT_NE(stamp, cells.end());
  EXPECT_EQ(stamp->substr(stamp->size() - 19), "2024-03-05 07:08:09");

  m_host.datePattern = L"%m/%d/%y";
  const auto mdb = m_dir / "times.mdb";
  ASSERT_TRUE(Export(L"SELECT t, ts FROM times ORDER BY n", mdb, FormatAccess));
  EXPECT_TRUE(m_host.rowErrors.empty());
  EXPECT_TRUE(AnyStartsWith(m_host.lines, L"The date pattern '%m/%d/%y' writes no hours, minutes, seconds"));
  EXPECT_EQ(ReadAccessTable(mdb, "times"), (std::vector<std::string>{"t,ts", "\"23:59:59\",\"2024-03-05 00:00:00\"",
                                                                     "\"0:0:1\",\"2024-12-31 00:00:00\""}));
}

// psqlODBC delivers timestamp 'infinity' as 9999-12-31 23:59:59, -infinity as the year -9999 and a
// date of either infinity as today's date: -infinity keeps its word, and a value the driver gives
// alike for two refuses its row with the reason; real dates and moments stay as they are.
TEST_F(ExportValuesFromPostgres, InfinitiesAreKeptAsWordsOrTheirRowRefused) {
  m_host.datePattern = L"%d/%m/%y %H:%M:%S";
  const auto xls = m_dir / "infs.xls";
  ASSERT_TRUE(Export(L"SELECT ts, d FROM infs ORDER BY n", xls, FormatExcel));
  const auto cells = DumpXls(xls);
  for (const char* expected :
       {"0\t1\t0\ttext\t-infinity", "0\t1\t1\ttext\t31/12/9999 0:0:0", "0\t2\t1\ttext\t1/1/1 0:0:0"}) {
    EXPECT_TRUE(Contains(cells, expected)) << expected;
  }
  EXPECT_EQ(cells.size(), 7u);  // the sheet, its header and two rows
  ASSERT_EQ(m_host.rowErrors.size(), 4u);
  for (const std::size_t row : {0u, 1u}) {
    EXPECT_TRUE(m_host.rowErrors[row].starts_with(L"Column 'ts' holds infinity or 9999-12-31 23:59:59"))
        << m_host.rowErrors[row];
  }
  for (const std::size_t row : {2u, 3u}) {
    EXPECT_TRUE(m_host.rowErrors[row].starts_with(L"Column 'd' holds infinity or -infinity")) << m_host.rowErrors[row];
  }
}

TEST_F(ExportValuesFromPostgres, LongTextOfAVarcharWithoutLengthArrivesWhole) {
  const auto mdb = m_dir / "texts.mdb";
  ASSERT_TRUE(Export(L"SELECT v FROM texts ORDER BY n", mdb, FormatAccess));
  EXPECT_TRUE(m_host.rowErrors.empty()) << m_host.rowErrors.front();
  EXPECT_TRUE(Contains(ReadAccessSchema(mdb), "\t[v]\t\t\tMemo/Hyperlink (255)"));
  EXPECT_EQ(ReadAccessTable(mdb, "texts"),
            (std::vector<std::string>{"v", "\"" + std::string(300, 'x') + "\"", "\"" + std::string(70000, 'y') + "\"",
                                      "\"short\""}));
  const auto xls = m_dir / "texts.xls";
  ASSERT_TRUE(Export(L"SELECT v FROM texts ORDER BY n", xls, FormatExcel));
  EXPECT_TRUE(Contains(DumpXls(xls), "0\t1\t0\ttext\t" + std::string(300, 'x')));
}

TEST_F(ExportValuesFromPostgres, AJoinWithRepeatedNamesExports) {
  const auto mdb = m_dir / "join.mdb";
  ASSERT_TRUE(Export(L"SELECT * FROM customers c JOIN orders o USING (\"CustomerID\") , orders p", mdb, FormatAccess));
  EXPECT_EQ(ReadAccessTable(mdb, "Results"),
            (std::vector<std::string>{"CustomerID,name,OrderID,OrderID_2,CustomerID_2", "1,\"Ada\",10,10,1"}));
}

TEST_F(ExportValuesFromPostgres, StatementsThatChangeTheSourceAreNotRun) {
  for (const wchar_t* statement :
       {L"DELETE FROM victims", L"WITH d AS (DELETE FROM victims RETURNING *) SELECT * FROM d",
        L"SELECT * INTO victims_copy FROM victims", L"SELECT 1; DELETE FROM victims",
        L"-- comment\nTRUNCATE victims"}) {
    EXPECT_FALSE(Export(statement, m_dir / "victims.xls", FormatExcel)) << statement;
    EXPECT_TRUE(AnyStartsWith(m_host.lines, L"The statement was not run: ")) << statement;
  }
  odbc::CRecordset rs(&m_source);
  rs.Open(odbc::CRecordset::forwardOnly, L"SELECT count(*)::int FROM victims", odbc::CRecordset::readOnly);
  odbc::CDBVariant count;
  rs.GetFieldValue(0, count);
  EXPECT_EQ(count.m_dwType == odbc::DBVT_LONG ? count.m_lVal : -1, 3);
  rs.Close();

  // A procedure call runs, and its missing result set is reported as such.
  EXPECT_FALSE(Export(L"CALL noop()", m_dir / "noop.xls", FormatExcel));
  EXPECT_TRUE(AnyStartsWith(m_host.lines, L"The statement returned no result set")) << m_host.lines.back();
}

}  // namespace
}  // namespace quillon::engine

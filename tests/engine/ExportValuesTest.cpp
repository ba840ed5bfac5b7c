// Every value of an ordinary SQLite source reaches .xls, .xlsx and .mdb exactly, or the run says
// row by row why it did not; read back by xlrd, openpyxl with pandas, and mdbtools.
#include <cstring>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "engine/ExportRun.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "tests/engine/ExportTestSupport.h"

namespace quillon::engine {
namespace {

using quillon::testing::DumpXls;
using quillon::testing::OutputLines;
using quillon::testing::ReadAccessSchema;
using quillon::testing::ReadAccessTable;
using testing::AnyStartsWith;
using testing::Contains;

// The cells of row `row` of the first sheet, "column<TAB>kind<TAB>value" each.
std::vector<std::string> RowCells(const std::vector<std::string>& cells, int row) {
  std::vector<std::string> out;
  const std::string prefix = "0\t" + std::to_string(row) + "\t";
  for (const auto& line : cells) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
  }
  return out;
}

class ExportValues : public testing::ExportFixture {
 protected:
  static void SetUpTestSuite() {
    drivers::RegisterBuiltInDrivers();
    s_sourceDir = new quillon::testing::TempDir;
    odbc::CDatabase db;
    db.OpenEx(SourceConnect());
    for (const wchar_t* sql : {
             L"CREATE TABLE Ints (n INTEGER, i INTEGER)",
             L"INSERT INTO Ints VALUES (1, 2147483647), (2, 2147483648), (3, 9007199254740993), "
             L"(4, -9223372036854775808), (5, -2147483648)",
             L"CREATE TABLE Small (s SMALLINT)",
             L"INSERT INTO Small VALUES (40000)",
             L"CREATE TABLE Times (n INTEGER, t TIME, d DATE, ts TIMESTAMP)",
             L"INSERT INTO Times VALUES (1, '23:59:59', '2024-03-05', '2024-03-05 07:08:09'), "
             L"(2, '07:08:09', '2024-12-31', '2024-12-31 23:59:59')",
             L"CREATE TABLE Floats (n INTEGER, f DOUBLE)",
             L"INSERT INTO Floats VALUES (1, 0.123456789012345), (2, 9e999), (3, -9e999), (4, -1.5), (5, 2.5)",
             L"CREATE TABLE OneDigit (n INTEGER, p NUMERIC(1,0))",
             L"INSERT INTO OneDigit VALUES (1, 7), (2, -3), (3, 0.5), (4, 0), (5, 1)",
             L"CREATE TABLE Customers (CustomerID INTEGER, Name VARCHAR(20))",
             L"INSERT INTO Customers VALUES (1, 'Ada'), (2, 'Grace')",
             L"CREATE TABLE Orders (OrderID INTEGER, CustomerID INTEGER)",
             L"INSERT INTO Orders VALUES (10, 1), (11, 2)",
             L"CREATE TABLE Kinds (n INTEGER, i INTEGER, f DOUBLE, p NUMERIC(5,2), b BIT, t TIME, d DATE, "
             L"ts TIMESTAMP, s VARCHAR(20), x BLOB)",
             L"INSERT INTO Kinds VALUES (1, 2147483648, 0.123456789012345, 3.25, 1, '23:59:59', '2024-03-05', "
             L"'2024-03-05 07:08:09', 'Ada & <Grace>', x'00ff'), (2, 9007199254740993, 9e999, -7, 0, '07:08:09', "
             L"'2024-12-31', '2024-12-31 23:59:59', '12', x''), (3, -9223372036854775808, -1.5, NULL, NULL, NULL, "
             L"NULL, NULL, NULL, NULL)",
             L"CREATE TABLE Victims (v INTEGER)",
             L"INSERT INTO Victims VALUES (1), (2), (3)",
         }) {
      db.ExecuteSQL(sql);
    }
  }
  static void TearDownTestSuite() { delete s_sourceDir; }
  static std::wstring SourceConnect() {
    return L"DRIVER=SQLite3;StepAPI=1;Database=" + (*s_sourceDir / "values.db").wstring();
  }

  void SetUp() override { m_source.OpenEx(SourceConnect()); }

  long Count(const std::wstring& table) {
    odbc::CRecordset rs(&m_source);
    rs.Open(odbc::CRecordset::forwardOnly, L"SELECT count(*) FROM " + table, odbc::CRecordset::readOnly);
    odbc::CDBVariant v;
    rs.GetFieldValue(0, v);
    if (v.m_dwType == odbc::DBVT_LONG) return v.m_lVal;
    return v.m_dwType == odbc::DBVT_STRING ? std::stol(*v.m_pstring) : -1;
  }

  static inline quillon::testing::TempDir* s_sourceDir = nullptr;
};

TEST_F(ExportValues, IntegersArriveAtFullWidthOrTheRowIsRefusedByName) {
  const auto xls = m_dir / "ints.xls";
  ASSERT_TRUE(Export(L"SELECT * FROM Ints ORDER BY n", xls, FormatExcel));
  const auto cells = DumpXls(xls);
  EXPECT_EQ(RowCells(cells, 1).at(1), "1\tnumber\t2147483647.0");
  EXPECT_EQ(RowCells(cells, 2).at(1), "1\tnumber\t2147483648.0");
  // Beyond 15 digits a double would change the value: the exact digits, as text.
  EXPECT_EQ(RowCells(cells, 3).at(1), "1\ttext\t9007199254740993");
  EXPECT_EQ(RowCells(cells, 4).at(1), "1\ttext\t-9223372036854775808");
  EXPECT_EQ(RowCells(cells, 5).at(1), "1\tnumber\t-2147483648.0");
  const auto small = m_dir / "small.xls";
  ASSERT_TRUE(Export(L"SELECT * FROM Small", small, FormatExcel));
  EXPECT_TRUE(Contains(DumpXls(small), "0\t1\t0\tnumber\t40000.0"));

  // Access: a Long where the value fits; otherwise the row is refused, naming column and value.
  const auto mdb = m_dir / "ints.mdb";
  ASSERT_TRUE(Export(L"SELECT * FROM Ints ORDER BY n", mdb, FormatAccess));
  EXPECT_EQ(ReadAccessTable(mdb, "Ints"), (std::vector<std::string>{"n,i", "1,2147483647", "5,-2147483648"}));
  ASSERT_EQ(m_host.rowErrors.size(), 3u);
  for (const char* value : {"2147483648", "9007199254740993", "-9223372036854775808"}) {
    const std::wstring wide(value, value + std::strlen(value));
    EXPECT_TRUE(std::any_of(m_host.rowErrors.begin(), m_host.rowErrors.end(), [&](const std::wstring& e) {
      return e.find(L"column 'i'") != std::wstring::npos && e.find(L"'" + wide + L"'") != std::wstring::npos;
    })) << value;
  }
  EXPECT_TRUE(AnyStartsWith(m_host.lines, L"Total rows copied: 2"));
  EXPECT_TRUE(AnyStartsWith(m_host.lines, L"Rows not copied (refused by the output driver, each reported): 3"));
}

// openpyxl's reading, "column<TAB>kind<TAB>value<TAB>number format" per cell; pandas reads the same.
TEST_F(ExportValues, EveryKindOfValueArrivesInAWorkbook) {
  const auto xlsx = m_dir / "kinds.xlsx";
  ASSERT_TRUE(Export(L"SELECT i, f, p, b, t, d, ts, s, x FROM Kinds ORDER BY n", xlsx, FormatXlsx));
  EXPECT_TRUE(m_host.rowErrors.empty()) << m_host.rowErrors.front();
  std::string error;
  const auto cells = quillon::testing::DumpXlsx(xlsx, &error);
  ASSERT_FALSE(cells.empty()) << error;
  EXPECT_EQ(RowCells(cells, 1),
            (std::vector<std::string>{"0\tnumber\t2147483648\tGeneral", "1\tnumber\t0.123456789012345\tGeneral",
                                      "2\tnumber\t3.25\tGeneral", "3\tbool\ttrue\tGeneral",
                                      "4\ttime\t23:59:59\thh:mm:ss", "5\tdate\t2024-03-05 00:00:00\tyyyy-mm-dd",
                                      "6\tdate\t2024-03-05 07:08:09\tyyyy-mm-dd hh:mm:ss",
                                      "7\ttext\tAda & <Grace>\tGeneral", "8\ttext\t0x00FF\tGeneral"}));
  EXPECT_EQ(RowCells(cells, 2),
            (std::vector<std::string>{
                "0\ttext\t9007199254740993\tGeneral", "1\terror\t#NUM!\tGeneral", "2\tnumber\t-7\tGeneral",
                "3\tbool\tfalse\tGeneral", "4\ttime\t07:08:09\thh:mm:ss", "5\tdate\t2024-12-31 00:00:00\tyyyy-mm-dd",
                "6\tdate\t2024-12-31 23:59:59\tyyyy-mm-dd hh:mm:ss", "7\ttext\t12\tGeneral", "8\ttext\t0x\tGeneral"}));
  // NULL leaves its cell empty.
  EXPECT_EQ(RowCells(cells, 3),
            (std::vector<std::string>{"0\ttext\t-9223372036854775808\tGeneral", "1\tnumber\t-1.5\tGeneral"}));
}

TEST_F(ExportValues, ATimeOfDayCarriesNoDate) {
  m_host.datePattern = L"%y-%m-%d %H:%M:%S";
  const auto xls = m_dir / "times.xls";
  ASSERT_TRUE(Export(L"SELECT t FROM Times ORDER BY n", xls, FormatExcel));
  const auto cells = DumpXls(xls);
  EXPECT_TRUE(Contains(cells, "0\t1\t0\ttext\t23:59:59"));
  EXPECT_TRUE(Contains(cells, "0\t2\t0\ttext\t7:8:9"));

  // A pattern without a time writes a time of day as hours, minutes and seconds.
  m_host.datePattern = L"%d/%m/%y";
  const auto mdb = m_dir / "times.mdb";
  ASSERT_TRUE(Export(L"SELECT t FROM Times ORDER BY n", mdb, FormatAccess));
  EXPECT_EQ(ReadAccessTable(mdb, "Times"), (std::vector<std::string>{"t", "\"23:59:59\"", "\"7:8:9\""}));
}

TEST_F(ExportValues, DatesRoundTripInEveryPatternTheFieldAccepts) {
  struct Case {
    const wchar_t* pattern;
    const char* day;    // the DATE column, text in the pattern
    const char* stamp;  // the TIMESTAMP column read back
    const char* secondStamp;
  };
  const Case cases[] = {
      {L"%d/%m/%y", "5/3/2024", "2024-03-05 00:00:00", "2024-12-31 00:00:00"},
      {L"%m/%d/%y", "3/5/2024", "2024-03-05 00:00:00", "2024-12-31 00:00:00"},
      {L"%d/%m/%y %H:%M:%S", "5/3/2024 0:0:0", "2024-03-05 07:08:09", "2024-12-31 23:59:59"},
      {L"%m/%d/%y %H:%M", "3/5/2024 0:0", "2024-03-05 07:08:00", "2024-12-31 23:59:00"},
      {L"%y-%m-%d", "2024-3-5", "2024-03-05 00:00:00", "2024-12-31 00:00:00"},
      {L"%y-%m-%d %H:%M:%S", "2024-3-5 0:0:0", "2024-03-05 07:08:09", "2024-12-31 23:59:59"},
      {L"", "5.3.2024 0:0:0", "2024-03-05 07:08:09", "2024-12-31 23:59:59"},
  };
  int file = 0;
  for (const auto& c : cases) {
    m_host.datePattern = c.pattern;
    const auto xls = m_dir / ("dates" + std::to_string(file) + ".xls");
    const auto mdb = m_dir / ("dates" + std::to_string(file++) + ".mdb");
    ASSERT_TRUE(Export(L"SELECT d, ts FROM Times ORDER BY n", xls, FormatExcel));
    EXPECT_TRUE(m_host.rowErrors.empty()) << m_host.rowErrors.front();
    const auto cells = DumpXls(xls);
    EXPECT_TRUE(Contains(cells, std::string("0\t1\t0\ttext\t") + c.day)) << c.day;
    const auto stamp = RowCells(cells, 1);
    ASSERT_EQ(stamp.size(), 2u);
    EXPECT_EQ(stamp[1].substr(stamp[1].size() - 19), c.stamp) << stamp[1];
    const auto second = RowCells(cells, 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].substr(second[1].size() - 19), c.secondStamp);

    ASSERT_TRUE(Export(L"SELECT d, ts FROM Times ORDER BY n", mdb, FormatAccess));
    EXPECT_TRUE(m_host.rowErrors.empty()) << m_host.rowErrors.front();
    const auto rows = ReadAccessTable(mdb, "Times");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], std::string("\"") + c.day + "\",\"" + c.stamp + "\"");
    EXPECT_EQ(rows[2].substr(rows[2].size() - 21), std::string("\"") + c.secondStamp + "\"");
  }
}

TEST_F(ExportValues, APatternThatCannotBeReadBackIsRefusedBeforeTheFirstRowWhereDatesAre) {
  m_host.datePattern = L"%d.%m";
  EXPECT_FALSE(Export(L"SELECT ts FROM Times", m_dir / "noyear.xls", FormatExcel));
  EXPECT_NE(m_host.lines.back().find(L"The date pattern '%d.%m' cannot be used for the DATE column 'ts'"),
            std::wstring::npos)
      << m_host.lines.back();
  EXPECT_NE(m_host.lines.back().find(L"the year (%y)"), std::wstring::npos);
  EXPECT_FALSE(Export(L"SELECT ts FROM Times", m_dir / "noyear.mdb", FormatAccess));
  EXPECT_NE(m_host.lines.back().find(L"cannot be used for the DATE column 'ts'"), std::wstring::npos);
  // Dates written as text are not read back: the same pattern serves them.
  ASSERT_TRUE(Export(L"SELECT d FROM Times ORDER BY n", m_dir / "noyear-text.mdb", FormatAccess));
  EXPECT_EQ(ReadAccessTable(m_dir / "noyear-text.mdb", "Times"),
            (std::vector<std::string>{"d", "\"5.3\"", "\"31.12\""}));
}

TEST_F(ExportValues, DoublesKeepTheirValueInfinitiesIncluded) {
  const auto xls = m_dir / "floats.xls";
  ASSERT_TRUE(Export(L"SELECT f FROM Floats ORDER BY n", xls, FormatExcel));
  const auto cells = DumpXls(xls);
  EXPECT_TRUE(Contains(cells, "0\t1\t0\tnumber\t0.123456789012345"));
  EXPECT_TRUE(Contains(cells, "0\t2\t0\terror\t36"));  // #NUM!
  EXPECT_TRUE(Contains(cells, "0\t3\t0\terror\t36"));
  // SQLite keeps no negative zero (it stores -0.0 as 0); the PostgreSQL test has one.
  EXPECT_TRUE(Contains(cells, "0\t4\t0\tnumber\t-1.5"));
  EXPECT_TRUE(Contains(cells, "0\t5\t0\tnumber\t2.5"));

  const auto mdb = m_dir / "floats.mdb";
  ASSERT_TRUE(Export(L"SELECT f FROM Floats ORDER BY n", mdb, FormatAccess));
  EXPECT_TRUE(m_host.rowErrors.empty());
  const auto rows = ReadAccessTable(mdb, "Floats");
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[1], "0.123456789012345");
  EXPECT_EQ(rows[2], "inf");
  EXPECT_EQ(rows[3], "-inf");
  EXPECT_EQ(rows[4], "-1.5");
}

TEST_F(ExportValues, PrecisionOneNumbersStayNumbers) {
  const auto mdb = m_dir / "onedigit.mdb";
  ASSERT_TRUE(Export(L"SELECT p FROM OneDigit ORDER BY n", mdb, FormatAccess));
  EXPECT_TRUE(Contains(ReadAccessSchema(mdb), "\t[p]\t\t\tDouble")) << ::testing::PrintToString(ReadAccessSchema(mdb));
  EXPECT_EQ(ReadAccessTable(mdb, "OneDigit"), (std::vector<std::string>{"p", "7", "-3", "0.5", "0", "1"}));
}

TEST_F(ExportValues, RepeatedNamesOfAJoinGetASuffix) {
  const std::wstring join = L"SELECT * FROM Customers c JOIN Orders o ON o.CustomerID = c.CustomerID ORDER BY OrderID";
  const auto xls = m_dir / "join.xls";
  ASSERT_TRUE(Export(join, xls, FormatExcel));
  EXPECT_TRUE(AnyStartsWith(m_host.lines,
                            L"Column name changed: column 4 'CustomerID' is written as 'CustomerID_2': "
                            L"its name repeats an earlier column's (letter case aside)"));
  const auto cells = DumpXls(xls);
  EXPECT_EQ(RowCells(cells, 0), (std::vector<std::string>{"0\ttext\tCustomerID", "1\ttext\tName", "2\ttext\tOrderID",
                                                          "3\ttext\tCustomerID_2"}));
  const auto mdb = m_dir / "join.mdb";
  ASSERT_TRUE(Export(join, mdb, FormatAccess));
  EXPECT_EQ(ReadAccessTable(mdb, "Results"),
            (std::vector<std::string>{"CustomerID,Name,OrderID,CustomerID_2", "1,\"Ada\",10,1", "2,\"Grace\",11,2"}));

  // Letter case aside; a suffix never takes a later column's name; a column without a name (the
  // SQLite driver gives "a." none) gets one.
  const auto names = m_dir / "names.xls";
  ASSERT_TRUE(Export(L"SELECT 1 AS a, 2 AS A, 3 AS \"a.\", 4 AS a_2", names, FormatExcel)) << m_host.lines.back();
  EXPECT_EQ(RowCells(DumpXls(names), 0),
            (std::vector<std::string>{"0\ttext\ta", "1\ttext\tA_3", "2\ttext\tColumn3", "3\ttext\ta_2"}));
}

TEST_F(ExportValues, EveryColumnNameArrivesAsTheSourceGivesIt) {
  const std::wstring statement =
      L"SELECT 1 AS \"Customer's Name\", 2 AS \"a]b\", 3 AS \"x-y's ]\", 4 AS \"[br]\", 5 AS \"R&D\", "
      L"6 AS \"q\"\"uote\", 7 AS \"semi;colon\", 8 AS \"pct%s\", 9 AS \"it's\", 10 AS \"back`tick\"";
  const std::vector<std::string> expected = {"Customer's Name", "a]b",        "x-y's ]", "[br]", "R&D",
                                             "q\"uote",         "semi;colon", "pct%s",   "it's", "back`tick"};
  const auto xls = m_dir / "awkward.xls";
  ASSERT_TRUE(Export(statement, xls, FormatExcel)) << m_host.lines.back();
  const auto header = RowCells(DumpXls(xls), 0);
  ASSERT_EQ(header.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(header[i], std::to_string(i) + "\ttext\t" + expected[i]);

  // Access field names cannot hold ! ` [ ]: those become '_', and the log says so.
  const auto mdb = m_dir / "awkward.mdb";
  ASSERT_TRUE(Export(statement, mdb, FormatAccess)) << m_host.lines.back();
  const std::vector<std::string> inAccess = {"Customer's Name", "a_b",        "x-y's _", "_br_", "R&D",
                                             "q\"uote",         "semi;colon", "pct%s",   "it's", "back_tick"};
  const auto schema = ReadAccessSchema(mdb);
  for (const auto& name : inAccess) {
    EXPECT_TRUE(std::any_of(schema.begin(), schema.end(), [&](const std::string& l) {
      return l.rfind("\t[" + name + "]\t", 0) == 0;
    })) << name;
  }
  EXPECT_TRUE(
      AnyStartsWith(m_host.lines, L"Column name changed: column 2 'a]b' is written as 'a_b': an Access field name"));
  // Constants are expressions, whose text the SQLite driver reports without a type: Memo fields.
  EXPECT_EQ(ReadAccessTable(mdb, "Results").at(1), "\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\",\"9\",\"10\"");
}

TEST_F(ExportValues, LongTextOfExpressionsArrivesWhole) {
  const std::wstring statement =
      L"SELECT replace(hex(zeroblob(150)), '0', 'x') AS t UNION ALL SELECT replace(hex(zeroblob(35000)), '0', 'y')";
  const auto mdb = m_dir / "long.mdb";
  ASSERT_TRUE(Export(statement, mdb, FormatAccess));
  EXPECT_TRUE(m_host.rowErrors.empty()) << m_host.rowErrors.front();
  const auto rows = ReadAccessTable(mdb, "Results");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], "\"" + std::string(300, 'x') + "\"");
  EXPECT_EQ(rows[2], "\"" + std::string(70000, 'y') + "\"");
}

TEST_F(ExportValues, StatementsThatChangeTheSourceAreNotRun) {
  for (const wchar_t* statement :
       {L"DELETE FROM Victims", L"/* tidy up */ delete from Victims", L"SELECT 1; DELETE FROM Victims",
        L"WITH x AS (SELECT 1) DELETE FROM Victims", L"SELECT * INTO Copy FROM Victims", L"DROP TABLE Victims"}) {
    const auto out = m_dir / "victims.xls";
    EXPECT_FALSE(Export(statement, out, FormatExcel)) << statement;
    EXPECT_TRUE(AnyStartsWith(m_host.lines, L"The statement was not run: ")) << statement;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(Count(L"Victims"), 3) << statement;
  }
  // A statement that returns no result set says so.
  EXPECT_FALSE(Export(L"-- nothing but a comment", m_dir / "nothing.xls", FormatExcel));
  EXPECT_TRUE(AnyStartsWith(m_host.lines, L"The statement returned no result set")) << m_host.lines.back();
}

}  // namespace
}  // namespace quillon::engine

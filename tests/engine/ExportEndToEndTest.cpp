// Exports from SQLite through the real output drivers, read back by xlrd and mdbtools.
#include <algorithm>
#include <regex>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "engine/ExportRun.h"
#include "platform/odbc/Database.h"
#include "tests/engine/ExportTestSupport.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/TempDir.h"

namespace quillon::engine {
namespace {

using testing::DumpXls;
using testing::OutputLines;
using testing::ReadAccessSchema;
using testing::ReadAccessTable;
using testing::SheetSizes;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool ContainsLine(const std::vector<std::wstring>& lines, const std::wstring& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Every run of the fixture reads the same source: a table of every column type, and a long
// numbered table for sheet splits.
class ExportEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    drivers::RegisterBuiltInDrivers();
    s_sourceDir = new quillon::testing::TempDir;
    odbc::CDatabase db;
    db.OpenEx(SourceConnect());
    db.ExecuteSQL(
        L"CREATE TABLE Items (ID INTEGER, Name VARCHAR(40), Notes TEXT, Price DOUBLE, Qty SMALLINT, Flag BIT, "
        L"Stamp TIMESTAMP, Day DATE, Big BIGINT, Tiny TINYINT, Raw BLOB)");
    db.ExecuteSQL(
        L"INSERT INTO Items VALUES (1, 'O''Brien', 'Zoë \U0001F600 東京', 0.1, -3, 1, '2024-03-05 07:08:09', "
        L"'1999-12-31', 9007199254740993, 200, X'00FF')");
    db.ExecuteSQL(L"INSERT INTO Items VALUES (2, 'NULL', NULL, 0.0000001, NULL, 0, NULL, NULL, 42, NULL, NULL)");
    db.ExecuteSQL(L"CREATE TABLE Seq (n INTEGER)");
    db.ExecuteSQL(
        L"INSERT INTO Seq WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 131071) "
        L"SELECT i FROM c");
    db.ExecuteSQL(L"CREATE TABLE Codes (Code VARCHAR(5))");
    db.ExecuteSQL(L"INSERT INTO Codes VALUES ('A1'), ('B2'), ('TOO LONG FOR FIVE'), ('D4')");
    // A long result with one value too long for its column at row 300.
    db.ExecuteSQL(L"CREATE TABLE ManyCodes (Code VARCHAR(5))");
    db.ExecuteSQL(
        L"INSERT INTO ManyCodes SELECT CASE WHEN n = 300 THEN 'TOO LONG FOR FIVE' ELSE 'C' || n END FROM Seq");
  }
  static void TearDownTestSuite() { delete s_sourceDir; }
  static std::wstring SourceConnect() {
    return L"DRIVER=SQLite3;StepAPI=1;Database=" + (*s_sourceDir / "source.db").wstring();
  }

  void SetUp() override { m_source.OpenEx(SourceConnect()); }

  bool Export(const std::wstring& statement, const std::filesystem::path& out, OutputFormat format) {
    m_host.lines.clear();
    return ExportQuery(m_source, m_host, statement, out.wstring(), format);
  }

  static inline quillon::testing::TempDir* s_sourceDir = nullptr;
  quillon::testing::TempDir m_dir;
  odbc::CDatabase m_source;
  RecordingHost m_host;
};

TEST_F(ExportEndToEnd, ExcelWorkbookHoldsEveryValueAsItsKind) {
  const auto out = m_dir / "deep" / "er" / "items.xls";
  ASSERT_TRUE(Export(L"SELECT * FROM Items", out, FormatExcel));
  const std::vector<std::string> cells = DumpXls(out);
  ASSERT_FALSE(cells.empty()) << "xlrd could not read the workbook";
  EXPECT_EQ(cells[0], "sheet\tItems\t3\t11");
  const char* headers[] = {"ID", "Name", "Notes", "Price", "Qty", "Flag", "Stamp", "Day", "Big", "Tiny", "Raw"};
  for (int c = 0; c < 11; ++c) EXPECT_TRUE(Contains(cells, "0\t0\t" + std::to_string(c) + "\ttext\t" + headers[c]));
  for (const char* expected :
       {"0\t1\t0\tnumber\t1.0", "0\t1\t1\ttext\tO'Brien", "0\t1\t2\ttext\tZoë \U0001F600 東京", "0\t1\t3\tnumber\t0.1",
        "0\t1\t4\tnumber\t-3.0", "0\t1\t5\tbool\ttrue", "0\t1\t7\ttext\t31.12.1999 0:0:0",
        "0\t1\t8\ttext\t9007199254740993", "0\t1\t9\tnumber\t200.0", "0\t1\t10\ttext\t0x00FF", "0\t2\t1\ttext\tNULL",
        "0\t2\t3\tnumber\t1e-07", "0\t2\t5\tbool\tfalse", "0\t2\t8\tnumber\t42.0"}) {
    EXPECT_TRUE(Contains(cells, expected)) << expected;
  }
  const auto stamp =
      std::find_if(cells.begin(), cells.end(), [](const std::string& l) { return l.rfind("0\t1\t6\t", 0) == 0; });
  ASSERT_NE(stamp, cells.end());
  EXPECT_EQ(stamp->substr(0, 11), "0\t1\t6\tdate\t");
  EXPECT_EQ(stamp->substr(stamp->size() - 19), "2024-03-05 07:08:09");
  // Nulls are empty cells: row 2 has values in the ID, Name, Price, Flag and Big columns only.
  EXPECT_EQ(std::count_if(cells.begin(), cells.end(), [](const std::string& l) { return l.rfind("0\t2\t", 0) == 0; }),
            5);
}

TEST_F(ExportEndToEnd, AccessTableHoldsEveryValueInItsColumnType) {
  const auto out = m_dir / "items.mdb";
  ASSERT_TRUE(Export(L"SELECT * FROM Items", out, FormatAccess));
  const std::vector<std::string> schema = ReadAccessSchema(out);
  for (const char* column :
       {"\t[ID]\t\t\tLong Integer, ", "\t[Name]\t\t\tText (40), ", "\t[Notes]\t\t\tMemo/Hyperlink (255), ",
        "\t[Price]\t\t\tDouble, ", "\t[Qty]\t\t\tInteger, ", "\t[Stamp]\t\t\tDateTime, ", "\t[Day]\t\t\tText (255), ",
        "\t[Big]\t\t\tText (255), ", "\t[Raw]\t\t\tOLE (255)"}) {
    EXPECT_TRUE(Contains(schema, column)) << column;
  }
  const std::vector<std::string> rows = ReadAccessTable(out, "Items");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], "ID,Name,Notes,Price,Qty,Flag,Stamp,Day,Big,Tiny,Raw");
  // mdbtools prints characters beyond the Basic Multilingual Plane as "??"; the Access driver's
  // own tests read them back with a reader that does not.
  const std::string first = rows[1];
  const std::string head = "1,\"O'Brien\",\"Zoë ";
  // The bytes themselves, as mdbtools prints an OLE Object.
  const std::string tail =
      " 東京\",0.1,-3,1,\"2024-03-05 07:08:09\",\"31.12.1999 0:0:0\",\"9007199254740993\",\"200\",\"" +
      std::string("\0\xFF", 2) + "\"";
  EXPECT_EQ(first.substr(0, head.size()), head) << first;
  EXPECT_EQ(first.substr(first.size() - std::min(first.size(), tail.size())), tail) << first;
  EXPECT_EQ(rows[2], "2,\"NULL\",,1e-07,,0,,,\"42\",,");
}

TEST_F(ExportEndToEnd, ExcelOutputGoesOnInFurtherSheetsEvery65535Rows) {
  const auto exact = m_dir / "exact.xls";
  ASSERT_TRUE(Export(L"SELECT n FROM Seq WHERE n <= 65535", exact, FormatExcel));
  EXPECT_EQ(SheetSizes(exact), (std::vector<std::pair<std::string, int>>{{"Seq", 65536}}));
  EXPECT_FALSE(std::any_of(m_host.lines.begin(), m_host.lines.end(),
                           [](const std::wstring& l) { return l.rfind(L"New output table name", 0) == 0; }));

  const auto one = m_dir / "one.xls";
  ASSERT_TRUE(Export(L"SELECT n FROM Seq WHERE n <= 65536", one, FormatExcel));
  EXPECT_EQ(SheetSizes(one), (std::vector<std::pair<std::string, int>>{{"Seq", 65536}, {"Seq_Sheet0", 2}}));
  EXPECT_TRUE(ContainsLine(m_host.lines, L"New output table name: Seq_Sheet0"));
  EXPECT_TRUE(ContainsLine(m_host.lines, L"Total rows copied: 65536"));

  const auto two = m_dir / "two.xls";
  ASSERT_TRUE(Export(L"SELECT n FROM Seq", two, FormatExcel));
  EXPECT_EQ(SheetSizes(two), (std::vector<std::pair<std::string, int>>{
                                 {"Seq", 65536}, {"Seq_Sheet0", 65536}, {"Seq_Sheet0_Sheet0", 2}}));
  // The last sheet holds the last row.
  EXPECT_TRUE(Contains(DumpXls(two), "2\t1\t0\tnumber\t131071.0"));
}

TEST_F(ExportEndToEnd, AccessOutputStaysInOneTable) {
  const auto out = m_dir / "seq.mdb";
  ASSERT_TRUE(Export(L"SELECT n FROM Seq WHERE n <= 70000", out, FormatAccess));
  int status = -1;
  EXPECT_EQ(OutputLines("mdb-count " + testing::ShellQuote(out.string()) + " Seq", &status),
            std::vector<std::string>{"70000"});
  EXPECT_EQ(OutputLines("mdb-tables -1 " + testing::ShellQuote(out.string())), std::vector<std::string>{"Seq"});
}

TEST_F(ExportEndToEnd, TheLogTellsTheRunFromStartToElapsed) {
  // The source table as the statement names it, schema and semicolon included, becomes a
  // table name without either.
  ASSERT_TRUE(Export(L"SELECT * FROM main.Items;", m_dir / "log" / "items.xls", FormatExcel));
  ASSERT_EQ(m_host.lines.size(), 8u);
  EXPECT_EQ(m_host.lines[0].rfind(L"Starting time: ", 0), 0u);
  const std::vector<std::wstring> middle(m_host.lines.begin() + 1, m_host.lines.end() - 1);
  EXPECT_EQ(middle, (std::vector<std::wstring>{L"Using Excel driver for Export", L"Input database opened",
                                               L"Output database opened for reading", L"Output table name: main_Items",
                                               L"Output table created", L"Total rows copied: 2"}));
  // Whole seconds between the start's and the end's clock readings: a short run may straddle one.
  EXPECT_TRUE(
      std::regex_match(m_host.lines.back(), std::wregex(L"Elapsed: Days: 0 Hours: 00 Minutes: 00 Seconds: 0\\d")))
      << m_host.lines.back();
}

TEST_F(ExportEndToEnd, AnExistingTableIsTheDriversMessageAndFalse) {
  const auto out = m_dir / "twice.xls";
  ASSERT_TRUE(Export(L"SELECT * FROM Items", out, FormatExcel));
  EXPECT_FALSE(Export(L"SELECT * FROM Items", out, FormatExcel));
  EXPECT_TRUE(ContainsLine(m_host.lines, L"Output table name: Items"));
  EXPECT_NE(m_host.lines.back().find(L"Table 'Items' already exists."), std::wstring::npos) << m_host.lines.back();
  EXPECT_EQ(SheetSizes(out).size(), 1u);

  const auto mdb = m_dir / "twice.mdb";
  ASSERT_TRUE(Export(L"SELECT * FROM Codes WHERE Code <> 'TOO LONG FOR FIVE'", mdb, FormatAccess));
  EXPECT_FALSE(Export(L"SELECT * FROM Codes", mdb, FormatAccess));
  EXPECT_NE(m_host.lines.back().find(L"Table 'Codes' already exists."), std::wstring::npos);
}

TEST_F(ExportEndToEnd, ARefusedRowIsSkippedOnOkAndEndsTheCopyingOnCancel) {
  const auto skipped = m_dir / "skip.mdb";
  ASSERT_TRUE(Export(L"SELECT * FROM Codes", skipped, FormatAccess));
  ASSERT_EQ(m_host.rowErrors.size(), 1u);
  EXPECT_TRUE(ContainsLine(m_host.lines, L"Total rows copied: 3"));
  EXPECT_EQ(ReadAccessTable(skipped, "Codes"), (std::vector<std::string>{"Code", "\"A1\"", "\"B2\"", "\"D4\""}));

  m_host.rowErrorAnswer = RowErrorAnswer::StopCopying;
  const auto cancelled = m_dir / "cancel.mdb";
  EXPECT_TRUE(Export(L"SELECT * FROM Codes", cancelled, FormatAccess));
  EXPECT_TRUE(ContainsLine(m_host.lines, L"Total rows copied: 2"));
  // The row after the refused one is not in the file either, and the count says so.
  EXPECT_TRUE(ContainsLine(m_host.lines, L"Rows not copied (left out when the copying was cancelled): 1"));
  EXPECT_EQ(m_host.lines.back().rfind(L"Elapsed: ", 0), 0u);
  EXPECT_EQ(ReadAccessTable(cancelled, "Codes"), (std::vector<std::string>{"Code", "\"A1\"", "\"B2\""}));
}

TEST_F(ExportEndToEnd, AStopKeepsTheRowsCopiedSoFar) {
  m_host.stopAfterRows = 100;
  const auto xls = m_dir / "stopped.xls";
  EXPECT_FALSE(Export(L"SELECT n FROM Seq", xls, FormatExcel));
  const std::vector<std::wstring> end = {L"Thread terminated", L"Total rows copied: 100"};
  EXPECT_EQ(std::vector<std::wstring>(m_host.lines.end() - 2, m_host.lines.end()), end);
  EXPECT_EQ(SheetSizes(xls), (std::vector<std::pair<std::string, int>>{{"Seq", 101}}));

  m_host.stopRequested = false;
  const auto mdb = m_dir / "stopped.mdb";
  EXPECT_FALSE(Export(L"SELECT n FROM Seq", mdb, FormatAccess));
  EXPECT_EQ(std::vector<std::wstring>(m_host.lines.end() - 2, m_host.lines.end()), end);
  EXPECT_EQ(OutputLines("mdb-count " + testing::ShellQuote(mdb.string()) + " Seq"), std::vector<std::string>{"100"});
}

// The statement fails while its rows are fetched: the rows before the failing one stay in the
// file, and the driver's message ends the log.
TEST_F(ExportEndToEnd, AFetchErrorMidResultKeepsTheRowsBeforeItAndEndsTheLog) {
  const auto xls = m_dir / "overflow.xls";
  EXPECT_FALSE(Export(L"SELECT n, CASE WHEN n = 1000 THEN abs(-9223372036854775808) ELSE n END AS v FROM Seq", xls,
                      FormatExcel));
  ASSERT_EQ(m_host.lines.size(), 7u);
  const std::vector<std::wstring> rest(m_host.lines.begin() + 1, m_host.lines.end());
  EXPECT_EQ(rest,
            (std::vector<std::wstring>{L"Using Excel driver for Export", L"Input database opened",
                                       L"Output database opened for reading", L"Output table name: Seq",
                                       L"Output table created", L"[SQLite]integer overflow (1) (SQLSTATE S1000)"}));
  EXPECT_EQ(SheetSizes(xls), (std::vector<std::pair<std::string, int>>{{"Seq", 1000}}));  // the names' row and 999
}

TEST_F(ExportEndToEnd, CancelInTheRowErrorBoxEndsALongCopy) {
  m_host.rowErrorAnswer = RowErrorAnswer::StopCopying;
  const auto mdb = m_dir / "many.mdb";
  EXPECT_TRUE(Export(L"SELECT Code FROM ManyCodes", mdb, FormatAccess));
  EXPECT_EQ(m_host.rowErrors.size(), 1u);
  ASSERT_GE(m_host.lines.size(), 4u);
  EXPECT_EQ(m_host.lines[m_host.lines.size() - 4], L"Total rows copied: 299");
  // Rows were read ahead of the refused one; the rest of the result never was.
  EXPECT_TRUE(std::regex_match(m_host.lines[m_host.lines.size() - 2],
                               std::wregex(L"Rows not copied \\(left out when the copying was cancelled\\): [1-9]\\d* "
                                           L"read ahead, and the rest of the result, which was not read")))
      << m_host.lines[m_host.lines.size() - 2];
  EXPECT_EQ(m_host.lines.back().rfind(L"Elapsed: ", 0), 0u);
  EXPECT_EQ(OutputLines("mdb-count " + testing::ShellQuote(mdb.string()) + " ManyCodes"),
            std::vector<std::string>{"299"});
}

TEST_F(ExportEndToEnd, AStopFarIntoALongResultLogsInOrder) {
  m_host.stopAfterRows = 5000;
  const auto xls = m_dir / "far.xls";
  EXPECT_FALSE(Export(L"SELECT n FROM Seq", xls, FormatExcel));
  ASSERT_EQ(m_host.lines.size(), 8u);
  const std::vector<std::wstring> rest(m_host.lines.begin() + 1, m_host.lines.end());
  EXPECT_EQ(rest,
            (std::vector<std::wstring>{L"Using Excel driver for Export", L"Input database opened",
                                       L"Output database opened for reading", L"Output table name: Seq",
                                       L"Output table created", L"Thread terminated", L"Total rows copied: 5000"}));
  EXPECT_EQ(SheetSizes(xls), (std::vector<std::pair<std::string, int>>{{"Seq", 5001}}));
  // Progress went to the host apart from the log: first at the first look at the clock, then at
  // most a few times a second, each time at a whole number of steps.
  ASSERT_FALSE(m_host.progress.empty());
  EXPECT_EQ(m_host.progress.front().first, 1024);
  for (const auto& [rows, rate] : m_host.progress) {
    EXPECT_EQ(rows % 1024, 0);
    EXPECT_LE(rows, 5000);
    EXPECT_GT(rate, 0.0);
  }
}

// Names quoted in FROM name the output table without their quotes; a Yes/No field's NULL
// becomes No, said once per column.
TEST_F(ExportEndToEnd, QuotedSourceNamesLoseTheirQuotesAndNullYesNoIsLogged) {
  const std::pair<const wchar_t*, const wchar_t*> quoted[] = {{L"SELECT * FROM \"Items\"", L"Items"},
                                                              {L"SELECT * FROM [Codes]", L"Codes"},
                                                              {L"SELECT * FROM `Seq` LIMIT 2", L"Seq"}};
  for (const auto& [statement, name] : quoted) {
    const auto mdb = m_dir / "quoted.mdb";
    ASSERT_TRUE(Export(statement, mdb, FormatAccess)) << statement;
    EXPECT_TRUE(ContainsLine(m_host.lines, std::wstring(L"Output table name: ") + name)) << statement;
    const auto xls = m_dir / "quoted.xls";
    ASSERT_TRUE(Export(statement, xls, FormatExcel)) << statement;
    EXPECT_TRUE(ContainsLine(m_host.lines, std::wstring(L"Output table name: ") + name)) << statement;
  }
  EXPECT_EQ(OutputLines("mdb-tables -1 " + testing::ShellQuote((m_dir / "quoted.mdb").string())),
            (std::vector<std::string>{"Items", "Codes", "Seq"}));

  const auto flags = m_dir / "flags.mdb";
  ASSERT_TRUE(Export(L"SELECT Flag, NULL AS Other, Flag AS Again FROM Items UNION ALL SELECT NULL, 1, NULL", flags,
                     FormatAccess))
      << m_host.lines.back();
  const auto logged = std::count_if(m_host.lines.begin(), m_host.lines.end(),
                                    [](const std::wstring& l) { return l.find(L"NULL written as No") != l.npos; });
  EXPECT_EQ(logged, 2);
  EXPECT_TRUE(
      ContainsLine(m_host.lines, L"Column 1 'Flag': NULL written as No (an Access Yes/No field holds no null)"));
  EXPECT_TRUE(
      ContainsLine(m_host.lines, L"Column 3 'Again': NULL written as No (an Access Yes/No field holds no null)"));
}

// Memo values long enough that a few rows fill a batch of rows read ahead arrive whole and in
// order (mdbtools shows at most 200000 bytes of a value).
TEST_F(ExportEndToEnd, LongTextsAcrossBatchesArriveWholeInAccess) {
  odbc::CDatabase db;
  db.OpenEx(SourceConnect());
  db.ExecuteSQL(
      L"CREATE TABLE IF NOT EXISTS Memos AS SELECT n, printf('%07d', n) || "
      L"replace(hex(zeroblob(75000)), '00', char(65 + n % 26, 66 + n % 20)) AS Body FROM Seq WHERE n <= 40");
  db.Close();
  const auto mdb = m_dir / "memos.mdb";
  ASSERT_TRUE(Export(L"SELECT n, Body FROM Memos ORDER BY n", mdb, FormatAccess));
  EXPECT_TRUE(ContainsLine(m_host.lines, L"Total rows copied: 40"));
  const std::vector<std::string> sizes = OutputLines("mdb-export -H -d ' ' " + testing::ShellQuote(mdb.string()) +
                                                     " Memos | awk '{print $1, length($2)}'");
  std::vector<std::string> expected;
  for (int n = 1; n <= 40; ++n) expected.push_back(std::to_string(n) + " " + std::to_string(150000 + 7 + 2));
  EXPECT_EQ(sizes, expected);
  const std::vector<std::string> heads =
      OutputLines("mdb-export -H -d ' ' " + testing::ShellQuote(mdb.string()) + " Memos | cut -c1-14");
  ASSERT_EQ(heads.size(), 40u);
  EXPECT_EQ(heads[2], "3 \"0000003DEDE");
  EXPECT_EQ(heads[39], "40 \"0000040OBO");
}

TEST_F(ExportEndToEnd, AnEmptyResultStillMakesTheTable) {
  const auto out = m_dir / "empty.xls";
  ASSERT_TRUE(Export(L"SELECT * FROM Items WHERE 0", out, FormatExcel));
  EXPECT_TRUE(ContainsLine(m_host.lines, L"Total rows copied: 0"));
  EXPECT_EQ(SheetSizes(out), (std::vector<std::pair<std::string, int>>{{"Items", 1}}));
}

}  // namespace
}  // namespace quillon::engine

// The .xlsx driver end to end through CDatabase, each workbook read back by openpyxl (and once
// each by LibreOffice and Gnumeric).
#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/OutputDriver.h"
#include "drivers/xlsx/XlsxDriver.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/DriverRegistry.h"
#include "platform/text/WideText.h"
#include "tests/drivers/xlsx/XlsxTestSupport.h"
#include "tests/support/Require.h"

namespace quillon::drivers::xlsx {
namespace {

using odbc::CDatabase;
using testing::Has;
using testing::NewXlsxConnect;
using testing::ReadXlsx;
using testing::Refusal;

class XlsxDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterBuiltInDrivers();
    QUILLON_REQUIRE_TOOL(testing::HaveOpenpyxl()) << "python3-openpyxl is not installed";
  }
  testing::TempDir m_dir;
};

// One column per case: its type, the literal, and how openpyxl reads the cell back
// (kind, value, number format).
struct ValueCase {
  const wchar_t* type;
  std::wstring literal;
  std::string read;
};

TEST_F(XlsxDriverTest, EveryValueKindReadsBackThroughOpenpyxl) {
  const std::vector<ValueCase> cases = {
      {L"INTEGER", L"-2147483648", "number\t-2147483648\tGeneral"},
      // More than 15 digits stay text, every digit kept; so does a long decimal.
      {L"INTEGER", L"-9223372036854775808", "text\t-9223372036854775808\tGeneral"},
      {L"TEXT", L"12345678901234567890.5", "text\t12345678901234567890.5\tGeneral"},
      {L"TEXT", L"0.1", "number\t0.1\tGeneral"},
      {L"SMALLINT", L"'12'", "number\t12\tGeneral"},
      {L"DOUBLE", L"0.30000000000000004", "number\t0.30000000000000004\tGeneral"},
      {L"DOUBLE", L"-2.5e-7", "number\t-2.5e-07\tGeneral"},
      {L"DOUBLE", L"1e300", "number\t1e+300\tGeneral"},
      {L"DOUBLE", L"NaN", "error\t#NUM!\tGeneral"},
      {L"TEXT", L"-Infinity", "error\t#NUM!\tGeneral"},
      {L"BIT", L"1", "bool\ttrue\tGeneral"},
      {L"BIT", L"'false'", "bool\tfalse\tGeneral"},
      {L"DATE", L"'2024-03-05'", "date\t2024-03-05 00:00:00\tyyyy-mm-dd"},
      {L"DATE", L"'5.3.2024 7:8:9'", "date\t2024-03-05 07:08:09\tyyyy-mm-dd hh:mm:ss"},
      {L"TIMESTAMP", L"'12/31/9999 23:59:59'", "date\t9999-12-31 23:59:59\tyyyy-mm-dd hh:mm:ss"},
      {L"TIMESTAMP", L"'2024-03-05'", "date\t2024-03-05 00:00:00\tyyyy-mm-dd hh:mm:ss"},
      // Before 1900-03-01 Excel counts a day that never was; before 1900 a date is text.
      {L"DATE", L"'1900-02-28 12:00'", "date\t1900-02-28 12:00:00\tyyyy-mm-dd hh:mm:ss"},
      {L"DATE", L"'31.12.1899'", "text\t1899-12-31 00:00:00\tGeneral"},
      {L"DATE", L"'-infinity'", "text\t-infinity\tGeneral"},
      {L"TIME", L"'07:08:09'", "time\t07:08:09\thh:mm:ss"},
      {L"TIME", L"0.5", "time\t12:00:00\thh:mm:ss"},
      {L"TEXT", L"'it''s <a&b> \"q\" ]]>'", "text\tit's <a&b> \"q\" ]]>\tGeneral"},
      {L"MEMO", L"'\U0001F600 \u00e9\u4e2d'", "text\t\xF0\x9F\x98\x80 \xC3\xA9\xE4\xB8\xAD\tGeneral"},
      // Characters XML cannot hold, and text that looks like their escapes, arrive as they were.
      {L"TEXT",
       L"'a\x01"
       L"b\x1f\tc\nd\re'",
       "text\ta\x01"
       "b\x1f\\tc\\nd\\re\tGeneral"},
      {L"TEXT", L"'_x0041_ _x00_ _X0041_'", "text\t_x0041_ _x00_ _X0041_\tGeneral"},
      {L"VARCHAR(3)", L"' a '", "text\t a \tGeneral"},
      {L"LONGBINARY", L"0x00FF", "text\t0x00FF\tGeneral"},
  };
  const auto file = m_dir / "kinds.xlsx";
  std::wstring columns, values, nulls;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::wstring sep = i == 0 ? L"" : L",";
    columns += sep + L"[C" + std::to_wstring(i) + L"] " + cases[i].type;
    values += sep + cases[i].literal;
    nulls += sep + L"NULL";
  }
  {
    CDatabase db;
    ASSERT_TRUE(db.OpenEx(NewXlsxConnect(file), CDatabase::noOdbcDialog));
    db.ExecuteSQL(L"CREATE TABLE Kinds (" + columns + L")");
    db.ExecuteSQL(L"INSERT INTO Kinds VALUES(" + values + L")");
    db.ExecuteSQL(L"INSERT INTO Kinds VALUES(" + nulls + L")");
    db.ExecuteSQL(L"INSERT INTO Kinds VALUES(" + values + L")");
  }
  std::string error;
  const auto lines = ReadXlsx(file, &error);
  ASSERT_FALSE(lines.empty()) << error;
  EXPECT_EQ(lines[0], "sheet\tKinds\t4\t" + std::to_string(cases.size()));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_TRUE(Has(lines, "0\t0\t" + std::to_string(i) + "\ttext\tC" + std::to_string(i) + "\tGeneral"));
    for (const char* row : {"1", "3"}) {
      const std::string line = std::string("0\t") + row + "\t" + std::to_string(i) + "\t" + cases[i].read;
      EXPECT_TRUE(Has(lines, line)) << "missing: " << line;
    }
  }
  // The NULL row has no cells.
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("0\t2\t", 0) == 0; }));
}

TEST_F(XlsxDriverTest, HeadersAreBoldFrozenAndFilteredAndWidthsFitTheFirstRows) {
  const auto file = m_dir / "layout.xlsx";
  {
    CDatabase db;
    db.OpenEx(NewXlsxConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE [It's] ([Id] INTEGER,[A much longer column name] TEXT,[S] TEXT)");
    db.ExecuteSQL(L"CREATE TABLE Second ([X] DOUBLE)");
    // Rows of both tables in turn: each sheet streams on its own.
    for (int i = 0; i < 300; ++i) {
      db.ExecuteSQL(L"INSERT INTO [It's] VALUES(" + std::to_wstring(i) + L",'x','" +
                    std::wstring(i == 5     ? 40
                                 : i == 200 ? 120
                                            : 1,
                                 L'w') +
                    L"')");
      db.ExecuteSQL(L"INSERT INTO Second VALUES(" + std::to_wstring(i) + L".5)");
    }
  }
  const auto layout = testing::OutputLines(std::string(QUILLON_PYTHON) + " " + QUILLON_XLSX_DUMP + " --layout " +
                                           testing::ShellQuote(file.string()));
  // A wide text in the first rows widens its column; one after them does not.
  ASSERT_EQ(layout.size(), 5u);
  EXPECT_EQ(layout[0], "It's\tfrozen A2\tfilter A1:C301\theader BBB\twidths A=8.43 B=29 C=42");
  EXPECT_EQ(layout[1], "Second\tfrozen A2\tfilter A1:A301\theader B\twidths A=8.43");
  // Every part deflated (8), each CRC right.
  EXPECT_EQ(layout[2],
            "parts\t[Content_Types].xml:8 _rels/.rels:8 docProps/app.xml:8 docProps/core.xml:8 xl/workbook.xml:8 "
            "xl/_rels/workbook.xml.rels:8 xl/styles.xml:8 xl/worksheets/sheet1.xml:8 xl/worksheets/sheet2.xml:8");
  EXPECT_EQ(
      layout[3],
      "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"0\" hidden=\"1\">'It''s'!$A$1:$C$301</definedName>");
  EXPECT_EQ(
      layout[4],
      "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"1\" hidden=\"1\">'Second'!$A$1:$A$301</definedName>");
  const auto lines = ReadXlsx(file);
  EXPECT_TRUE(Has(lines, "0\t300\t2\ttext\tw\tGeneral"));
  EXPECT_TRUE(Has(lines, "1\t300\t0\tnumber\t299.5\tGeneral"));
}

TEST_F(XlsxDriverTest, AFullSheetRefusesTheNextRowAndTheNextTableTakesIt) {
  odbc::DriverRegistry::Instance().Register(MakeXlsxDriver({.maxRows = 4}));
  const auto file = m_dir / "full.xlsx";
  const std::wstring longName = L"Quarterly_revenue_by_region_and_product";
  {
    CDatabase db;
    db.OpenEx(NewXlsxConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE " + longName + L" ([I] INTEGER)");
    EXPECT_EQ(db.GetCreatedTableName(), L"Quarterly_revenue_by_region_and");
    for (int i = 1; i <= 3; ++i) db.ExecuteSQL(L"INSERT INTO " + longName + L" VALUES(" + std::to_wstring(i) + L")");
    std::wstring message;
    EXPECT_EQ(Refusal(db, L"INSERT INTO " + longName + L" VALUES(4)", &message), L"HY000");
    EXPECT_EQ(message, L"Table '" + longName + L"' is full: a sheet holds at most 3 rows under its header row.");
    EXPECT_EQ(Refusal(db, L"INSERT INTO " + longName + L" VALUES(4,5)"), L"21S01");  // the width first
    db.ExecuteSQL(L"CREATE TABLE " + longName + L"_Sheet0 ([I] INTEGER)");
    EXPECT_EQ(db.GetCreatedTableName(), L"Quarterly_revenue_by_region_a~2");
    db.ExecuteSQL(L"INSERT INTO " + longName + L"_Sheet0 VALUES(4)");
    // A control character, which the package's XML cannot hold in a sheet name, becomes '_'.
    db.ExecuteSQL(L"CREATE TABLE [a\x01\tb&<c>] ([A] TEXT)");
    EXPECT_EQ(db.GetCreatedTableName(), L"a__b&<c>");
  }
  const auto lines = ReadXlsx(file);
  EXPECT_TRUE(Has(lines, "sheet\tQuarterly_revenue_by_region_and\t4\t1"));
  EXPECT_TRUE(Has(lines, "0\t3\t0\tnumber\t3\tGeneral"));
  EXPECT_TRUE(Has(lines, "sheet\tQuarterly_revenue_by_region_a~2\t2\t1"));
  EXPECT_TRUE(Has(lines, "1\t1\t0\tnumber\t4\tGeneral"));
  EXPECT_TRUE(Has(lines, "sheet\ta__b&<c>\t1\t1"));
}

TEST_F(XlsxDriverTest, RefusalsLeaveTheWorkbookAsItsGoodStatementsMadeIt) {
  const auto file = m_dir / "refused.xlsx";
  std::wstring wide, wideValues;
  for (int i = 0; i < 16384; ++i) {
    wide += (i ? L"," : L"") + std::wstring(L"[C") + std::to_wstring(i) + L"] DOUBLE";
    wideValues += (i ? L"," : L"") + std::to_wstring(i);
  }
  const std::wstring longest(32767, L'y');
  {
    CDatabase db;
    db.OpenEx(NewXlsxConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE [\u00c9t\u00e9] ([S] TEXT,[V] VARCHAR(3))");
    std::wstring message;
    EXPECT_EQ(Refusal(db, L"CREATE TABLE [\u00e9T\u00c9] ([A] TEXT)", &message), L"42S01");
    EXPECT_EQ(message, L"Table '\u00e9T\u00c9' already exists.");
    EXPECT_EQ(Refusal(db, L"CREATE TABLE T ([A] TEXT,[a] DOUBLE)"), L"42S21");
    EXPECT_EQ(Refusal(db, L"CREATE TABLE Wider (" + wide + L",[X] TEXT)"), L"54011");
    db.ExecuteSQL(L"CREATE TABLE Wide (" + wide + L")");
    db.ExecuteSQL(L"INSERT INTO Wide VALUES(" + wideValues + L")");
    EXPECT_EQ(Refusal(db, L"INSERT INTO [\u00e9t\u00e9] VALUES('" + longest + L"x',NULL)"), L"22001");
    EXPECT_EQ(Refusal(db, L"INSERT INTO [\u00e9t\u00e9] VALUES(NULL,'abcd')"), L"22001");
    EXPECT_EQ(Refusal(db, L"INSERT INTO Missing VALUES(1)"), L"42S02");
    db.ExecuteSQL(L"INSERT INTO [\u00e9t\u00e9] VALUES('" + longest + L"','abc')");
  }
  const auto lines = ReadXlsx(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "sheet\t\xC3\x89t\xC3\xA9\t2\t2");
  EXPECT_TRUE(Has(lines, "0\t1\t0\ttext\t" + std::string(32767, 'y') + "\tGeneral"));
  EXPECT_TRUE(Has(lines, "sheet\tWide\t2\t16384"));
  EXPECT_TRUE(Has(lines, "1\t1\t16383\tnumber\t16383\tGeneral"));
}

TEST_F(XlsxDriverTest, NothingIsWrittenWithoutATableAndAnExistingFileIsRefusedUntouched) {
  const auto file = m_dir / "none.xlsx";
  {
    CDatabase db;
    db.OpenEx(NewXlsxConnect(file), CDatabase::noOdbcDialog);
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  CDatabase db;
  EXPECT_THROW(db.OpenEx(L"DRIVER={Quillon Excel Workbook Driver (*.xlsx)};DBQ=" + text::Utf8ToWide(file.string())),
               odbc::CDBException);
}

// Statements in phases, run on one connection to a copy of `source` (none: a new file) in a
// folder of its own; after every phase but the last a checkpoint when `checkpoints` holds, and
// `atCheckpoint` with the phase's number.
template <typename AtCheckpoint>
std::filesystem::path RunPhases(const std::filesystem::path& folder, const std::string& source,
                                const std::vector<std::vector<std::wstring>>& phases, std::size_t upTo,
                                bool checkpoints, AtCheckpoint&& atCheckpoint) {
  std::filesystem::create_directories(folder);
  const auto file = folder / "book.xlsx";
  if (!source.empty()) std::filesystem::copy_file(std::filesystem::path(QUILLON_TESTDATA_DIR) / "xlsx" / source, file);
  auto connection = MakeXlsxDriver()->Connect(odbc::ConnectString::Parse(NewXlsxConnect(file)));
  auto& output = dynamic_cast<OutputConnection&>(*connection);
  for (std::size_t phase = 0; phase < upTo; ++phase) {
    for (const auto& statement : phases[phase]) output.ExecuteSQL(statement);
    if (checkpoints && phase + 1 < phases.size()) {
      output.Checkpoint();
      atCheckpoint(phase);
    }
  }
  output.Close();
  return file;
}

// A checkpoint leaves the file byte for byte as a connection closed after the same statements
// would, and the connection goes on into the tables from before; closed, it makes the same bytes
// as without checkpoints. The second phase makes the first table stream (past the rows its widths are
// fitted to, and past what the compressor holds back), the last adds a row wider than any.
TEST_F(XlsxDriverTest, ACheckpointWritesWhatAClosedConnectionWouldAndTheConnectionGoesOn) {
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  std::vector<std::vector<std::wstring>> phases(3);
  phases[0] = {L"CREATE TABLE T ([I] INTEGER,[S] TEXT,[D] DATE,[X] DOUBLE,[B] BIT)",
               L"INSERT INTO T VALUES(1,'a&b <c>','2024-03-05',0.1,1)",
               L"INSERT INTO T VALUES(NULL,NULL,NULL,NULL,NULL)",
               L"INSERT INTO T VALUES(-7,'\u00e9t\u00e9','1899-12-31',NaN,0)"};
  for (int i = 0; i < 1500; ++i) {
    phases[1].push_back(L"INSERT INTO T VALUES(" + std::to_wstring(i * 7919 % 100003) + L",'row " +
                        std::to_wstring(i * 104729 % 999983) + L"','2024-03-05 07:08:09'," + std::to_wstring(i / 7.0) +
                        L",1)");
  }
  phases[1].push_back(L"CREATE TABLE U ([S] TEXT)");
  phases[1].push_back(L"INSERT INTO U VALUES('u')");
  phases[2] = {L"INSERT INTO T VALUES(2,'" + std::wstring(300, L'w') + L"',NULL,2.5,0)", L"INSERT INTO U VALUES('v')"};
  for (const std::string source : {"", "table01.xlsx"}) {
    SCOPED_TRACE(source);
    const auto folder = m_dir / ("checkpoints" + source);
    const auto file = RunPhases(folder, source, phases, phases.size(), true, [&](std::size_t phase) {
      const auto closed = RunPhases(m_dir / ("closed" + source + std::to_string(phase)), source, phases, phase + 1,
                                    false, [](std::size_t) {});
      EXPECT_EQ(testing::ReadBytes(folder / "book.xlsx"), testing::ReadBytes(closed)) << "phase " << phase;
      EXPECT_TRUE(Has(ReadXlsx(folder / "book.xlsx"), phase == 0 ? "sheet\tT\t4\t5" : "sheet\tT\t1504\t5"));
      // Nothing named beside the file.
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    });
    const auto plain = RunPhases(m_dir / ("plain" + source), source, phases, phases.size(), false, [](std::size_t) {});
    EXPECT_EQ(testing::ReadBytes(file), testing::ReadBytes(plain));
    const auto lines = ReadXlsx(file);
    EXPECT_TRUE(Has(lines, "sheet\tT\t1505\t5"));
    EXPECT_TRUE(Has(lines, "sheet\tU\t3\t1"));
  }
}

// The file as another reader converts it to CSV, one file a sheet (`out` the folder).
TEST_F(XlsxDriverTest, LibreOfficeOpensTheWorkbook) {
  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SOFFICE).empty()) << "LibreOffice (soffice) is not installed";
  const auto file = m_dir / "lo.xlsx";
  testing::WriteSampleWorkbook(file);
  const auto out = m_dir / "csv";
  const std::string profile = "file://" + (m_dir / "profile").string();
  const auto result =
      testing::RunCommand(std::string(QUILLON_SOFFICE) + " --headless -env:UserInstallation=" + profile +
                          " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,"
                          "false,false,-1' --outdir " +
                          testing::ShellQuote(out.string()) + " " + testing::ShellQuote(file.string()) + " 2>&1");
  ASSERT_EQ(result.status, 0) << result.output;
  // LibreOffice shows hh:mm:ss as its locale's long time, with AM or PM.
  std::string first = testing::kSampleFirstCsv;
  first.replace(first.find(",07:08:09,"), 10, ",07:08:09 AM,");
  EXPECT_EQ(testing::ReadBytes(out / "lo-First.csv"), first);
  EXPECT_EQ(testing::ReadBytes(out / "lo-Second.csv"), "S\nx\n");
}

TEST_F(XlsxDriverTest, GnumericOpensTheWorkbook) {
  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SSCONVERT).empty()) << "Gnumeric (ssconvert) is not installed";
  const auto file = m_dir / "gn.xlsx";
  testing::WriteSampleWorkbook(file);
  const auto csv = m_dir / "gn.csv";
  const auto result = testing::RunCommand(
      std::string(QUILLON_SSCONVERT) +
      " -S -T Gnumeric_stf:stf_assistant -O 'separator=, format=preserve quoting-mode=never eol=unix' " +
      testing::ShellQuote(file.string()) + " " + testing::ShellQuote(csv.string() + ".%n") + " 2>&1");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(testing::ReadBytes(m_dir / "gn.csv.0"), testing::kSampleFirstCsv);
  EXPECT_EQ(testing::ReadBytes(m_dir / "gn.csv.1"), "S\nx\n");
}

}  // namespace
}  // namespace quillon::drivers::xlsx

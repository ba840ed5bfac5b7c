// A row reaches the built-in drivers either as literals (InsertRow: numbers and dates as values,
// unwritten) or as INSERT text, and both ways must give the same file and the same log: every
// value kind, refused rows and all, from SQLite and from PostgreSQL, into every format, by date
// patterns that write every part of a date and by ones that leave parts out, exported once
// through the real drivers and once through drivers that take only SQL text.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/access/AccessDriver.h"
#include "drivers/excel/ExcelDriver.h"
#include "drivers/text/TextDriver.h"
#include "engine/ExportRun.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/DriverRegistry.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TempDir.h"

namespace quillon::engine {
namespace {

// How a test driver passed the rows on.
struct RowCounts {
  int literals = 0;  // taken by the real driver's InsertRow
  int texts = 0;     // sent as INSERT text
};

// A real built-in driver's connection, with rows taken as literals only when `literals` is set.
class ForwardingConnection : public odbc::IDriverConnection {
 public:
  ForwardingConnection(std::unique_ptr<odbc::IDriverConnection> real, bool literals, RowCounts& counts)
      : m_real(std::move(real)), m_literals(literals), m_counts(counts) {}
  void ExecuteSQL(std::wstring_view statement) override {
    if (statement.rfind(L"INSERT", 0) == 0) ++m_counts.texts;
    m_real->ExecuteSQL(statement);
  }
  bool InsertRow(std::wstring_view table, const std::vector<odbc::Literal>& values) override {
    if (!m_literals || !m_real->InsertRow(table, values)) return false;
    ++m_counts.literals;
    return true;
  }
  void Close() override { m_real->Close(); }
  std::wstring CreatedTableName() const override { return m_real->CreatedTableName(); }

 private:
  std::unique_ptr<odbc::IDriverConnection> m_real;
  bool m_literals;
  RowCounts& m_counts;
};

class ForwardingDriver : public odbc::IBuiltInDriver {
 public:
  ForwardingDriver(std::shared_ptr<odbc::IBuiltInDriver> real, bool literals, RowCounts& counts)
      : m_real(std::move(real)), m_literals(literals), m_counts(counts) {}
  std::wstring Name() const override { return m_real->Name(); }
  std::unique_ptr<odbc::IDriverConnection> Connect(const odbc::ConnectString& connect) override {
    return std::make_unique<ForwardingConnection>(m_real->Connect(connect), m_literals, m_counts);
  }
  bool ConfigDataSource(unsigned short request, const std::vector<std::wstring>& attributes) override {
    return m_real->ConfigDataSource(request, attributes);
  }

 private:
  std::shared_ptr<odbc::IBuiltInDriver> m_real;
  bool m_literals;
  RowCounts& m_counts;
};

std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A Jet date-time as an Access database stamps it (days since 1899-12-30) of about now, read at
// `at` if the bytes there are one.
bool IsJetDateOfToday(const std::string& bytes, std::size_t at, double& date) {
  if (at + sizeof(double) > bytes.size()) return false;
  std::memcpy(&date, bytes.data() + at, sizeof(double));
  constexpr double kYear2000 = 36526, kYear2200 = 109574;
  return date > kYear2000 && date < kYear2200;
}

// Whether two Access databases written by the same steps are equal but for the time each table
// was created at, which the catalog stamps: every differing byte lies in eight bytes that hold,
// in both files, Jet dates less than a minute apart.
::testing::AssertionResult SameButForCreationTimes(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
  constexpr double kMinute = 1.0 / (24 * 60);
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    bool stamp = false;
    for (std::size_t start = i >= 7 ? i - 7 : 0; start <= i && !stamp; ++start) {
      double x = 0, y = 0;
      stamp = IsJetDateOfToday(a, start, x) && IsJetDateOfToday(b, start, y) && std::abs(x - y) < kMinute;
      if (stamp) i = start + sizeof(double) - 1;
    }
    if (!stamp) return ::testing::AssertionFailure() << "the files differ at byte " << i;
  }
  return ::testing::AssertionSuccess();
}

// What one export left: the file's bytes, the log (the time it took left out) and the row errors.
struct Outcome {
  bool ok = false;
  std::string bytes;
  std::vector<std::wstring> lines;
  std::vector<std::wstring> rowErrors;
};

class RowPaths {
 public:
  RowPaths() {
    // Both ways stamp their workbooks with one time, so that .xlsx files compare byte for byte.
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    drivers::RegisterBuiltInDrivers();
    m_excel = odbc::DriverRegistry::Instance().Find(drivers::excel::kExcelDriverName);
    m_access = odbc::DriverRegistry::Instance().Find(drivers::access::kAccessDriverName);
    m_text = odbc::DriverRegistry::Instance().Find(drivers::delimited::kTextDriverName);
    m_csv = odbc::DriverRegistry::Instance().Find(drivers::delimited::kCsvDriverName);
    m_xlsx = odbc::DriverRegistry::Instance().Find(odbc::kXlsxDriverName);
    // Every .mdb export goes into a copy of one new database, so that both ways start from the
    // same header (which holds the time the database was made).
    const auto empty = m_dir / "empty.mdb";
    m_access->ConfigDataSource(odbc::ODBC_ADD_DSN, {L"CREATE_DB=\"" + empty.wstring() + L"\""});
    m_emptyDatabase = ReadBytes(empty);
  }
  ~RowPaths() { drivers::RegisterBuiltInDrivers(); }

  // Exports `statement` to a new file of `format` with rows as literals or as text only.
  Outcome Export(odbc::CDatabase& source, const std::wstring& statement, OutputFormat format, bool literals,
                 RowCounts& counts, const std::wstring& datePattern = {}) {
    auto& registry = odbc::DriverRegistry::Instance();
    for (const auto& real : {m_excel, m_access, m_text, m_csv, m_xlsx})
      registry.Register(std::make_shared<ForwardingDriver>(real, literals, counts));
    // The same path both times, so that the logs name the same file.
    const auto file = m_dir / (format == FormatExcel    ? "out.xls"
                               : format == FormatAccess ? "out.mdb"
                               : format == FormatText   ? "out.txt"
                               : format == FormatXlsx   ? "out.xlsx"
                                                        : "out.csv");
    std::filesystem::remove(file);
    if (format == FormatAccess) WriteBytes(file, m_emptyDatabase);
    RecordingHost host;
    host.datePattern = datePattern;
    Outcome outcome;
    outcome.ok = ExportQuery(source, host, statement, file.wstring(), format);
    outcome.bytes = ReadBytes(file);
    for (const auto& line : host.lines) {
      if (line.rfind(L"Elapsed: ", 0) != 0 && line.rfind(L"Starting time: ", 0) != 0) outcome.lines.push_back(line);
    }
    outcome.rowErrors = host.rowErrors;
    return outcome;
  }

  // Both ways for every format and each of `datePatterns`; the literal way must have taken at
  // least `minLiteralRows` rows, and the .xls and .mdb drivers refused at least `minRefused`.
  void ExpectOneOutcome(odbc::CDatabase& source, const std::wstring& statement, int minLiteralRows,
                        std::size_t minRefused, const std::vector<std::wstring>& datePatterns = {L""}) {
    for (const std::wstring& pattern : datePatterns)
      for (const OutputFormat format : {FormatExcel, FormatAccess, FormatText, FormatCsv, FormatXlsx}) {
        SCOPED_TRACE(std::to_string(format) + " " + text::WideToUtf8(pattern));
        ExpectOneOutcome(source, statement, format, pattern, minLiteralRows,
                         format == FormatExcel || format == FormatAccess ? minRefused : 0);
      }
  }

  void ExpectOneOutcome(odbc::CDatabase& source, const std::wstring& statement, OutputFormat format,
                        const std::wstring& pattern, int minLiteralRows, std::size_t minRefused) {
    RowCounts typed, text;
    const Outcome a = Export(source, statement, format, true, typed, pattern);
    const Outcome b = Export(source, statement, format, false, text, pattern);
    EXPECT_GE(typed.literals, minLiteralRows);
    EXPECT_EQ(text.literals, 0);
    EXPECT_EQ(a.ok, b.ok);
    EXPECT_FALSE(a.bytes.empty());
    if (format != FormatAccess) {
      EXPECT_TRUE(a.bytes == b.bytes) << "files differ (" << a.bytes.size() << " and " << b.bytes.size() << " bytes)";
    } else {
      EXPECT_TRUE(SameButForCreationTimes(a.bytes, b.bytes));
    }
    EXPECT_EQ(a.lines, b.lines);
    EXPECT_EQ(a.rowErrors, b.rowErrors);
    EXPECT_GE(a.rowErrors.size(), minRefused);
  }

  quillon::testing::TempDir m_dir;
  std::shared_ptr<odbc::IBuiltInDriver> m_excel;
  std::shared_ptr<odbc::IBuiltInDriver> m_access;
  std::shared_ptr<odbc::IBuiltInDriver> m_text;
  std::shared_ptr<odbc::IBuiltInDriver> m_csv;
  std::shared_ptr<odbc::IBuiltInDriver> m_xlsx;
  std::string m_emptyDatabase;
};

// The default pattern, one that leaves out the minutes and seconds and holds an apostrophe, and
// one without a time (a time of day then has a pattern of its own).
const std::vector<std::wstring> kDatePatterns = {L"", L"%y-%m-%d at %H o'clock", L"%m/%d/%y"};

std::wstring Repeat(const std::wstring& piece, std::size_t times) {
  std::wstring text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(RowPathsFromSqlite, EveryValueKindGivesTheSameFileAndLogBothWays) {
  RowPaths paths;
  quillon::testing::TempDir sourceDir;
  odbc::CDatabase source;
  source.OpenEx(L"DRIVER=SQLite3;StepAPI=1;Database=" + (sourceDir / "kinds.db").wstring());
  // Text beyond 255 characters, beyond 64K bytes, and beyond what a cell holds; a non-BMP
  // character; integers beyond 2^53 and beyond 15 digits; dates before 1899 and a time of day;
  // a SMALLINT beyond 16 bits and digits that are no number, which the drivers refuse.
  const std::wstring longText = L"'" + Repeat(L"a''b", 100) + L"'";
  const std::wstring bigText = L"'" + Repeat(L"x\U0001F600", 17000) + L"'";
  for (const std::wstring& sql : {
           std::wstring(L"CREATE TABLE Kinds (id INTEGER, t TEXT, v VARCHAR(10), d DOUBLE, i INTEGER, b BIT, "
                        L"ts TIMESTAMP, tm TIME, bi BIGINT, s SMALLINT)"),
           std::wstring(L"INSERT INTO Kinds VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)"),
           std::wstring(L"INSERT INTO Kinds VALUES (2, '', 'it''s \"q\"', 0.1, 9007199254740993, 1, "
                        L"'1850-01-02 03:04:05', '23:59:59', 9223372036854775807, 7)"),
           L"INSERT INTO Kinds VALUES (3, " + longText +
               L", 'NULL', -1234.5678, -9223372036854775808, 0, "
               L"'1899-12-30 00:00:00', '00:00:01', -1, -32768)",
           L"INSERT INTO Kinds VALUES (4, " + bigText +
               L", '\U0001F600', 9e999, 2147483648, 1, "
               L"'2024-03-05 07:08:09', '12:00:00', 1234567890123456, 1)",
           std::wstring(L"INSERT INTO Kinds VALUES (5, 'NULL', 'x', -9e999, 1, 0, '0100-01-01 00:00:00', "
                        L"'07:08:09', 0, 40000)"),
           std::wstring(L"INSERT INTO Kinds VALUES (6, 'ok', 'y', 1e-300, 2, 1, '9999-12-31 23:59:59', "
                        L"'23:00:00', 'twelve', 3)"),
           std::wstring(L"INSERT INTO Kinds VALUES (7, ' padded ', 'z', 123456789012345678, 3, 0, "
                        L"'2000-02-29 12:00:00', '01:02:03', '-0012', 4)"),
       }) {
    source.ExecuteSQL(sql);
  }
  paths.ExpectOneOutcome(source, L"SELECT * FROM Kinds ORDER BY id", 2, 2, kDatePatterns);
  // Binary values: none, no bytes, a few, and more than a long-value page.
  source.ExecuteSQL(L"CREATE TABLE Blobs (n INTEGER, b BLOB)");
  source.ExecuteSQL(L"INSERT INTO Blobs VALUES (1, NULL), (2, X''), (3, X'00FF7f'), (4, X'" + Repeat(L"A5", 5000) +
                    L"')");
  paths.ExpectOneOutcome(source, L"SELECT * FROM Blobs ORDER BY n", 4, 0);
  // Another table name, as the source gives it, with blanks and a quote.
  source.ExecuteSQL(L"CREATE TABLE \"odd 'name\" (n INTEGER, t TEXT)");
  source.ExecuteSQL(L"INSERT INTO \"odd 'name\" VALUES (1, 'one'), (2, 'two')");
  paths.ExpectOneOutcome(source, L"SELECT * FROM \"odd 'name\"", 2, 0);
}

TEST(RowPathsFromSqlite, ASheetOverflowingIntoTheNextGivesTheSameWorkbookBothWays) {
  RowPaths paths;
  quillon::testing::TempDir sourceDir;
  odbc::CDatabase source;
  source.OpenEx(L"DRIVER=SQLite3;StepAPI=1;Database=" + (sourceDir / "many.db").wstring());
  source.ExecuteSQL(L"CREATE TABLE Many (n INTEGER, t TEXT)");
  source.ExecuteSQL(
      L"INSERT INTO Many WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 65600) "
      L"SELECT n, 'row ' || n FROM c");
  RowCounts typed, text;
  const Outcome a = paths.Export(source, L"SELECT * FROM Many", FormatExcel, true, typed);
  const Outcome b = paths.Export(source, L"SELECT * FROM Many", FormatExcel, false, text);
  EXPECT_EQ(typed.literals, 65600);
  EXPECT_EQ(text.texts, 65600);
  EXPECT_TRUE(a.bytes == b.bytes);
  EXPECT_EQ(a.lines, b.lines);
}

TEST(RowPathsFromPostgres, EveryValueKindGivesTheSameFileAndLogBothWays) {
  RowPaths paths;
  quillon::testing::PostgresServer server;
  odbc::CDatabase source;
  source.OpenEx(server.ConnectString());
  for (const wchar_t* sql : {
           L"CREATE TABLE kinds (id int, t text, v varchar(10), f float8, r real, num numeric(30,10), i4 int4, "
           L"i8 int8, i2 int2, b bool, ts timestamp, d date, tm time)",
           L"INSERT INTO kinds VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
           L"INSERT INTO kinds VALUES (2, '', 'it''s \"q\"', 'NaN', 'Infinity', 12345678901234567890.0123456789, "
           L"2147483647, 9007199254740993, 32767, true, '1850-01-02 03:04:05', '1899-12-30', '23:59:59')",
           L"INSERT INTO kinds VALUES (3, repeat('a''b', 100), 'NULL', '-Infinity', '-0', -0.5, -2147483648, "
           L"-9223372036854775808, -32768, false, '2024-03-05 07:08:09', '0100-01-01', '00:00:01')",
           L"INSERT INTO kinds VALUES (4, repeat(U&'x\\+01F600', 17000), U&'\\+01F600', '-0', 1.5e-40, 'NaN', "
           L"0, 1234567890123456, 0, true, '9999-12-31 23:59:59', '2000-02-29', '12:00:00')",
           L"INSERT INTO kinds VALUES (5, ' padded ', 'x', 0.1, 3.4e38, 1e-10, 1, -1, 1, false, "
           L"'1900-03-01 00:00:00', '1900-02-28', '07:08:09')",
       }) {
    source.ExecuteSQL(sql);
  }
  paths.ExpectOneOutcome(source, L"SELECT * FROM kinds ORDER BY id", 3, 0, kDatePatterns);
}

}  // namespace
}  // namespace quillon::engine

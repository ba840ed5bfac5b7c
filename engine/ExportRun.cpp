#include "engine/ExportRun.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/ReadOnlyStatement.h"
#include "engine/RowReader.h"
#include "engine/StatementBuilders.h"
#include "engine/TimeText.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Installer.h"
#include "platform/odbc/Recordset.h"
#include "platform/odbc/TableName.h"
#include "platform/text/WideText.h"

namespace quillon::engine {
namespace {

constexpr std::wstring_view kDefaultTableName = L"Results";
constexpr std::wstring_view kFurtherTableSuffix = L"_Sheet0";
// The locale's long date and time (glibc's %c; it has no '#' flag for a longer form).
constexpr const wchar_t* kStartTimePattern = L"%c";
constexpr const wchar_t* kElapsedPattern = L"Days: %D Hours: %H Minutes: %M Seconds: %S";

// Progress goes to the host at most this often, the clock looked at every kProgressRowStep rows
// (a power of two, so that the row loop only masks its count).
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
constexpr std::int32_t kProgressRowStep = 1024;
static_assert((kProgressRowStep & (kProgressRowStep - 1)) == 0);

// How often a statement is cancelled again while a stop is requested and it has not returned.
constexpr auto kCancelRepeat = std::chrono::milliseconds(50);

// The run's log lines.
namespace logline {
constexpr std::wstring_view kNothingToDo = L"Specify SQL statement and Output File";
constexpr std::wstring_view kStartingTime = L"Starting time: ";
constexpr std::wstring_view kUsingExcel = L"Using Excel driver for Export";
constexpr std::wstring_view kUsingAccess = L"Using Access driver for Export";
constexpr std::wstring_view kUsingXlsx = L"Using Excel Workbook driver for Export";
constexpr std::wstring_view kUsingText = L"Using Text driver for Export";
constexpr std::wstring_view kUsingCsv = L"Using CSV driver for Export";
constexpr std::wstring_view kCannotCreateFolder = L"Can't create specified file or folder: ";
constexpr std::wstring_view kAccessNotCreated = L"Failed creating Access database";
constexpr std::wstring_view kOutputOpened = L"Input database opened";
constexpr std::wstring_view kResultOpened = L"Output database opened for reading";
constexpr std::wstring_view kTableName = L"Output table name: ";
constexpr std::wstring_view kTableCreated = L"Output table created";
constexpr std::wstring_view kStopped = L"Thread terminated";
constexpr std::wstring_view kFurtherTableName = L"New output table name: ";
constexpr std::wstring_view kFurtherTableCreated = L"New table created";
constexpr std::wstring_view kUnknownException = L"Unknown exception";
constexpr std::wstring_view kTotalRows = L"Total rows copied: ";
constexpr std::wstring_view kRefusedRows = L"Rows not copied (refused by the output driver, each reported): ";
constexpr std::wstring_view kLeftOutRows = L"Rows not copied (left out when the copying was cancelled): ";
constexpr std::wstring_view kLeftOutUnread = L" read ahead, and the rest of the result, which was not read";
constexpr std::wstring_view kNullAsNo = L": NULL written as No (an Access Yes/No field holds no null)";
constexpr std::wstring_view kNoResultSet =
    L"The statement returned no result set (no columns), so there is nothing to export";
constexpr std::wstring_view kColumnRenamed = L"Column name changed: column ";
constexpr std::wstring_view kColumnNamed = L"Column ";
constexpr std::wstring_view kPatternLeavesOut = L"The date pattern '";
constexpr std::wstring_view kElapsed = L"Elapsed: ";
}  // namespace logline

std::wstring Join(std::wstring_view a, std::wstring_view b) {
  std::wstring s(a);
  s += b;
  return s;
}

// A connect-string value in braces, each '}' doubled: the connect-string parser reads it back
// exactly, whatever it holds (';', '=', quotes, braces, blanks at either end, line breaks), so
// no text of the user's can end its entry early and add entries of its own.
std::wstring Braced(std::wstring_view value) {
  std::wstring braced = L"{";
  for (wchar_t c : value) {
    braced += c;
    if (c == L'}') braced += c;
  }
  braced += L'}';
  return braced;
}

// One "KEY=value;" entry of a connect string.
std::wstring Entry(std::wstring_view key, std::wstring_view value) { return Join(Join(key, L"="), value) + L";"; }

// The entries that hand the date pattern to the output driver, which reads DATE values by it (so
// that it never has to guess whether 5/3 is day or month first), and name the file, last.
std::wstring PatternAndFile(std::wstring_view path, std::wstring_view datePattern) {
  return Entry(odbc::key::kDatePattern, Braced(datePattern)) + Join(Join(odbc::key::kDatabase, L"="), Braced(path));
}

// For the drivers that create their file on connect (all but Access's).
std::wstring CreateConnect(std::wstring_view driver, std::wstring_view path, std::wstring_view datePattern) {
  return Entry(odbc::key::kDriver, Braced(driver)) + L"DSN='';" + Entry(odbc::key::kFirstRowHasNames, L"1") +
         Entry(odbc::key::kReadOnly, L"FALSE") + Entry(odbc::key::kCreateDatabase, Braced(path)) +
         PatternAndFile(path, datePattern);
}

// An existing file; `replace` has the driver take it for a new one, replaced as a whole.
std::wstring OpenConnect(std::wstring_view driver, std::wstring_view path, std::wstring_view datePattern,
                         bool replace = false) {
  return L"ODBC;" + Entry(odbc::key::kDriver, Braced(driver)) + L"DSN='';" +
         (replace ? Entry(odbc::key::kReplace, L"1") : std::wstring()) + PatternAndFile(path, datePattern);
}

// The built-in driver that writes `format`; null for no format.
const wchar_t* DriverOf(OutputFormat format) {
  switch (format) {
    case FormatExcel:
      return odbc::kExcelDriverName;
    case FormatAccess:
      return odbc::kAccessDriverName;
    case FormatText:
      return odbc::kTextDriverName;
    case FormatXlsx:
      return odbc::kXlsxDriverName;
    case FormatCsv:
      return odbc::kCsvDriverName;
    default:
      return nullptr;
  }
}

// Rows a table of `format` takes before the run continues in a further table; 0 for no limit.
std::int32_t RowsPerTable(OutputFormat format) {
  if (format == FormatExcel) return kRowsPerExcelTable;
  if (format == FormatXlsx) return kRowsPerXlsxTable;
  return 0;
}

// The source table's name without its quotes, ';' and '.' (which become '_').
std::wstring OutputTableName(const std::wstring& source) {
  std::wstring name;
  for (wchar_t c : source.empty() ? std::wstring(kDefaultTableName) : odbc::UnquoteTableName(source)) {
    if (c == L';') continue;
    name.push_back(c == L'.' ? L'_' : c);
  }
  return name;
}

// While it lives, cancels the statement the source is running for as long as the host asks the
// run to stop. A cancel reaches only a statement inside an ODBC call, and one that reaches the
// server before the statement does cancels nothing, so a single cancel from the host can be
// lost; this one is repeated until the statement has returned. Cancel never touches a cursor
// being read, so a repeat after the statement has returned does no harm.
class CancelOnStop {
 public:
  CancelOnStop(const odbc::CDatabase& source, IExportHost& host) : m_source(source), m_host(host) {
    try {
      m_thread = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
      // No thread to spare: the host's own cancel and the checks around the statement remain.
    }
  }
  ~CancelOnStop() {
    if (!m_thread.joinable()) return;
    {
      const std::lock_guard lock(m_mutex);
      m_done = true;
    }
    m_wake.notify_one();
    m_thread.join();
  }
  CancelOnStop(const CancelOnStop&) = delete;
  CancelOnStop& operator=(const CancelOnStop&) = delete;

 private:
  void Watch() noexcept {
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, kCancelRepeat, [this] { return m_done; })) {
      lock.unlock();
      try {
        if (m_host.IsStopRequested()) m_source.Cancel();
      } catch (...) {
        return;  // a host that cannot answer leaves the stop to the checks around the statement
      }
      lock.lock();
    }
  }

  const odbc::CDatabase& m_source;
  IExportHost& m_host;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_done = false;  // the statement has returned; guarded by m_mutex
  std::thread m_thread;
};

// One run's state; every way out of Run() passes through ExportQuery's handlers.
class ExportRun {
 public:
  ExportRun(odbc::CDatabase& source, IExportHost& host, const ExportOptions& options)
      : m_source(source), m_host(host), m_options(options) {}

  bool Run(std::wstring_view statement, std::wstring_view outputPath, OutputFormat format);
  // Closes the output so that the rows so far stay in the file; logs a failure to write them
  // (unless a failed write ended the run: that was logged, and the output is left unwritten).
  bool CloseOutput();

 private:
  void Log(std::wstring_view text) { m_host.AddLogLine(std::wstring(text)); }
  void LogError(std::wstring_view text) { m_host.AddErrorLine(std::wstring(text)); }
  // Whether the user asked the run to stop; if so logs it. For the checks before anything is
  // created; the output, if open, is closed by the caller.
  bool StopSeen();
  // Opens the output file, creating it (and its folders) when missing; false (logged) when it
  // could not be opened.
  bool OpenOutput(const std::wstring& path, OutputFormat format, const std::wstring& datePattern);
  // Runs the statement on the source; null when it failed or the user stopped the run (logged,
  // the output closed).
  std::unique_ptr<odbc::CRecordset> OpenResult(std::wstring_view statement);
  // Logs what the output makes of the result's columns and creates the first table: its
  // CREATE TABLE template and name go to `createTemplate` and `tableName`. False (logged, the
  // output closed) when there is nothing to export or the table cannot be created.
  bool CreateFirstTable(odbc::CRecordset& recordset, OutputFormat format, const std::wstring& datePattern,
                        std::wstring& createTemplate, std::wstring& tableName);
  // Copies the rows from the result's current one to its end, the source's fetching done by a
  // reader thread; false when a stop or a failed further table ended the run (logged, the output
  // closed). The reader has ended when it returns, whichever way.
  bool CopyRows(odbc::CRecordset& recordset, OutputFormat format, const std::wstring& createTemplate,
                std::wstring tableName);
  // Sends the row in m_literals to the output table; false when the copying ends with it (a
  // failed write of the file, or the user's cancel in the row-error box).
  bool WriteRow(const std::wstring& tableName);
  // Hands the host the rows copied so far and their rate, when the last time is long enough ago.
  void ShowProgress();
  // Logs the rows the file holds (none when it was not written) and the rows refused.
  void LogTotals(bool written);
  // Closes the output and logs the totals; true when the file was written.
  bool Finish();
  // Says which parts of a date-time the pattern leaves out, when the result has date-times.
  void LogDatePatternPrecision(const odbc::CRecordset& recordset, std::wstring_view pattern);
  // Creates a table under `name` and logs `nameLine` with the name the driver stored it under
  // (the driver may have to shorten it), then `createdLine`; false (logged) when the driver refuses.
  bool CreateTable(const std::wstring& createTemplate, const std::wstring& name, std::wstring_view nameLine,
                   std::wstring_view createdLine);

  odbc::CDatabase& m_source;
  IExportHost& m_host;
  const ExportOptions& m_options;
  std::int64_t m_start = CurrentTime();
  odbc::CDatabase m_output;
  std::wstring m_storedTable;  // the current table's name as the file holds it
  // A write of the output's data failed (odbc::errors::IsIoError): nothing more goes to the output.
  bool m_outputFailed = false;
  std::int32_t m_total = 0;    // rows the output took
  std::int32_t m_refused = 0;  // rows it refused
  // The copying was ended in the row-error box: the rows read and not used, and whether they
  // were the rest of the result.
  std::optional<RowReader::Unused> m_leftOut;
  // Access columns that take a NULL as No (Yes/No fields) and have met none yet in this run: the
  // index and the name it is logged by.
  struct YesNoColumn {
    std::size_t index;
    std::wstring name;
  };
  std::vector<YesNoColumn> m_yesNoColumns;
  std::chrono::steady_clock::time_point m_copyStart;
  std::chrono::steady_clock::time_point m_nextProgress;
  // One row's literals and statement text, their storage reused from row to row.
  std::vector<odbc::Literal> m_literals;
  std::wstring m_datePattern;  // the effective one, read once when the run begins
  std::wstring m_insert;
};

void ExportRun::LogDatePatternPrecision(const odbc::CRecordset& recordset, std::wstring_view pattern) {
  bool dates = false;
  for (std::int16_t i = 0; i < recordset.GetODBCFieldCount(); ++i) {
    dates = dates || recordset.GetODBCFieldInfo(i).m_nSQLType == odbc::SQL_CODE_TIMESTAMP;
  }
  if (!dates) return;
  std::wstring missing;
  for (const auto& [token, part] :
       {std::pair{L"%H", L"hours"}, std::pair{L"%M", L"minutes"}, std::pair{L"%S", L"seconds"}}) {
    if (pattern.find(token) != std::wstring_view::npos) continue;
    if (!missing.empty()) missing += L", ";
    missing += part;
  }
  if (missing.empty()) return;
  Log(Join(Join(logline::kPatternLeavesOut, Join(pattern, L"' writes no ")),
           Join(missing, L": date-time values keep only the parts it writes")));
}

bool ExportRun::CreateTable(const std::wstring& createTemplate, const std::wstring& name, std::wstring_view nameLine,
                            std::wstring_view createdLine) {
  try {
    m_output.ExecuteSQL(FillCreateTemplate(createTemplate, name));
  } catch (const odbc::CDBException& e) {
    Log(Join(nameLine, name));
    LogError(e.m_strError);
    if (odbc::errors::IsIoError(e)) m_outputFailed = true;
    return false;
  }
  const std::wstring stored = m_output.GetCreatedTableName();
  m_storedTable = stored.empty() ? name : stored;
  Log(Join(nameLine, m_storedTable));
  Log(createdLine);
  return true;
}

bool ExportRun::Run(std::wstring_view statement, std::wstring_view outputPath, OutputFormat format) {
  if (outputPath.empty() || statement.empty()) {
    LogError(logline::kNothingToDo);
    return false;
  }
  Log(Join(logline::kStartingTime, FormatTimeStamp(m_start, kStartTimePattern)));
  switch (format) {
    case FormatExcel:
      Log(logline::kUsingExcel);
      break;
    case FormatAccess:
      Log(logline::kUsingAccess);
      break;
    case FormatText:
      Log(logline::kUsingText);
      break;
    case FormatXlsx:
      Log(logline::kUsingXlsx);
      break;
    case FormatCsv:
      Log(logline::kUsingCsv);
      break;
    default:
      break;
  }
  // Nothing runs on the source, and no file is made, for a statement that would change it.
  if (const std::wstring why = WhyNotReadOnly(statement); !why.empty()) {
    LogError(why);
    return false;
  }
  // The Date field is disabled while the run lasts: the pattern read now is the one it writes by.
  m_datePattern = EffectiveDatePattern(m_host.GetDatePattern());
  const std::wstring& datePattern = m_datePattern;
  // A stop that came before the run began creates no file.
  if (StopSeen()) return false;
  if (!OpenOutput(std::wstring(outputPath), format, datePattern)) return false;
  std::unique_ptr<odbc::CRecordset> recordset = OpenResult(statement);
  if (recordset == nullptr) return false;
  std::wstring createTemplate;
  std::wstring tableName;
  if (!CreateFirstTable(*recordset, format, datePattern, createTemplate, tableName)) return false;
  if (!CopyRows(*recordset, format, createTemplate, std::move(tableName))) return false;
  recordset.reset();
  return Finish();
}

bool ExportRun::OpenOutput(const std::wstring& path, OutputFormat format, const std::wstring& datePattern) {
  const wchar_t* driver = DriverOf(format);
  std::error_code ignored;
  if (std::filesystem::exists(std::filesystem::path(text::WideToUtf8(path)), ignored)) {
    if (driver != nullptr)
      m_output.Open(nullptr, false, false, OpenConnect(driver, path, datePattern, m_options.replace));
  } else {
    if (!CreateFolderPath(path)) {
      LogError(Join(logline::kCannotCreateFolder, L"\"" + path + L"\""));
      return false;
    }
    if (format == FormatAccess) {
      std::wstring attributes = Entry(odbc::key::kCreateDatabase, L"\"" + path + L"\"");
      attributes.push_back(L'\0');  // the list ends with an empty entry
      if (odbc::SQLConfigDataSourceW(nullptr, odbc::ODBC_ADD_DSN, odbc::kAccessDriverName, attributes.c_str()) == 0) {
        LogError(logline::kAccessNotCreated);
        if (const std::wstring why = odbc::InstallerErrorText(); !why.empty()) LogError(why);
        return false;
      }
      m_output.Open(nullptr, false, false, OpenConnect(odbc::kAccessDriverName, path, datePattern));
    } else if (driver != nullptr) {
      m_output.OpenEx(CreateConnect(driver, path, datePattern), odbc::CDatabase::noOdbcDialog);
    }
  }
  if (!m_output.IsOpen()) return false;
  Log(logline::kOutputOpened);
  return true;
}

bool ExportRun::StopSeen() {
  if (!m_host.IsStopRequested()) return false;
  LogError(logline::kStopped);
  return true;
}

std::unique_ptr<odbc::CRecordset> ExportRun::OpenResult(std::wstring_view statement) {
  // A stop that came while the output was opened runs no statement.
  if (StopSeen()) {
    CloseOutput();
    return nullptr;
  }
  std::unique_ptr<odbc::CRecordset> recordset;
  try {
    recordset = std::make_unique<odbc::CRecordset>(&m_source);
    {
      const CancelOnStop cancel(m_source, m_host);
      recordset->Open(odbc::CRecordset::forwardOnly, statement, odbc::CRecordset::readOnly);
    }
    Log(logline::kResultOpened);
  } catch (const odbc::CDBException& e) {
    // A stop cancels the statement while it runs; the driver's report of the cancel is the stop.
    LogError(m_host.IsStopRequested() ? logline::kStopped : std::wstring_view(e.m_strError));
    CloseOutput();
    return nullptr;
  } catch (...) {
    LogError(logline::kUnknownException);
    CloseOutput();
    return nullptr;
  }
  // A stop that came while the statement ran, too late to cancel it (or on a driver that cannot
  // cancel), ends the run before anything is created.
  if (StopSeen()) {
    CloseOutput();
    return nullptr;
  }
  return recordset;
}

bool ExportRun::CreateFirstTable(odbc::CRecordset& recordset, OutputFormat format, const std::wstring& datePattern,
                                 std::wstring& createTemplate, std::wstring& tableName) {
  if (recordset.GetODBCFieldCount() == 0) {
    LogError(logline::kNoResultSet);
    CloseOutput();
    return false;
  }
  LogDatePatternPrecision(recordset, datePattern);
  const std::vector<OutputColumn> columns = OutputColumnNames(recordset, format);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (format == FormatAccess &&
        recordset.GetODBCFieldInfo(static_cast<std::int16_t>(i)).m_nSQLType == odbc::SQL_CODE_BIT) {
      m_yesNoColumns.push_back({i, std::to_wstring(i + 1) + L" '" + columns[i].name + L"'"});
    }
    if (columns[i].why.empty()) continue;
    Log(Join(logline::kColumnRenamed, std::to_wstring(i + 1) + L" '" + columns[i].sourceName + L"' is written as '" +
                                          columns[i].name + L"': " + columns[i].why));
  }
  // The name is logged once the driver has said under which name it stored the table; rows go
  // to the table by the name the run gave it, which the driver maps to what it stored.
  tableName = m_options.tableName.empty() ? OutputTableName(recordset.GetTableName()) : m_options.tableName;
  createTemplate = BuildCreateTableSql(recordset, format, columns);
  if (!CreateTable(createTemplate, tableName, logline::kTableName, logline::kTableCreated)) {
    CloseOutput();
    return false;
  }
  return true;
}

bool ExportRun::CopyRows(odbc::CRecordset& recordset, OutputFormat format, const std::wstring& createTemplate,
                         std::wstring tableName) {
  const std::vector<std::int16_t> sqlTypes = ColumnSqlTypes(recordset);
  m_literals.resize(sqlTypes.size());
  odbc::CDBVariant scratch;  // a value of a kind only a CDBVariant carries
  std::vector<odbc::CellValue> cells;
  std::int32_t inTable = 0;
  const std::int32_t rowsPerTable = RowsPerTable(format);
  // From here on only the reader touches the source; leaving this function ends and joins it.
  RowReader reader(recordset);
  m_copyStart = std::chrono::steady_clock::now();
  m_nextProgress = m_copyStart;
  while (reader.Next()) {
    if (m_host.IsStopRequested()) {
      LogError(logline::kStopped);
      // The rows copied before the stop stay in the file: say how many.
      LogTotals(CloseOutput());
      return false;
    }
    if (rowsPerTable != 0 && inTable == rowsPerTable) {
      tableName += kFurtherTableSuffix;
      if (!CreateTable(createTemplate, tableName, logline::kFurtherTableName, logline::kFurtherTableCreated)) {
        CloseOutput();
        return false;
      }
      inTable = 0;
    }
    try {
      ReadLiterals(reader, sqlTypes, m_datePattern, m_host, scratch, cells, m_literals);
    } catch (const odbc::CDBException& e) {
      if (reader.RowUnreadable()) throw;
      // A source value that cannot arrive exactly: its row is refused as the output refuses one.
      ++m_refused;
      if (m_host.AnswerRowError(e) == RowErrorAnswer::StopCopying) {
        m_leftOut = reader.StopReading();
        break;
      }
      continue;
    }
    // Each such column is logged at its first NULL and then no longer looked at.
    std::erase_if(m_yesNoColumns, [&](const YesNoColumn& column) {
      if (m_literals[column.index].kind != odbc::Literal::Kind::Null) return false;
      Log(Join(logline::kColumnNamed, column.name) + std::wstring(logline::kNullAsNo));
      return true;
    });
    const std::int32_t before = m_total;
    const bool goOn = WriteRow(tableName);
    if (m_total != before) ++inTable;
    if ((m_total & (kProgressRowStep - 1)) == 0 && m_total != before) ShowProgress();
    if (!goOn) {
      // Cancelled in the row-error box: the rows after the refused one are not copied either.
      if (!m_outputFailed) m_leftOut = reader.StopReading();
      break;
    }
  }
  return true;
}

void ExportRun::ShowProgress() {
  const auto now = std::chrono::steady_clock::now();
  if (now < m_nextProgress) return;
  m_nextProgress = now + kProgressInterval;
  const double seconds = std::chrono::duration<double>(now - m_copyStart).count();
  m_host.ShowProgress(m_total, seconds > 0 ? m_total / seconds : 0.0, m_storedTable);
}

bool ExportRun::WriteRow(const std::wstring& tableName) {
  try {
    // A built-in driver takes the literals as they are; any other gets them as SQL text.
    if (!m_output.InsertRow(tableName, m_literals)) {
      RenderInsertSql(tableName, m_literals, m_insert);
      m_output.ExecuteSQL(m_insert);
    }
    ++m_total;
    m_host.RowCopied(m_total, m_storedTable);
    return true;
  } catch (const odbc::CDBException& e) {
    if (odbc::errors::IsIoError(e)) {
      // The disk, not the row: every further row would fail the same way.
      LogError(e.m_strError);
      m_outputFailed = true;
      return false;
    }
    ++m_refused;
    return m_host.AnswerRowError(e) != RowErrorAnswer::StopCopying;
  }
}

void ExportRun::LogTotals(bool written) {
  Log(Join(logline::kTotalRows, std::to_wstring(written ? m_total : 0)));
  if (m_refused > 0) Log(Join(logline::kRefusedRows, std::to_wstring(m_refused)));
}

bool ExportRun::Finish() {
  // The output is written out first, so that the total counts the rows that are in the file;
  // a file that could not be written out is a failed export, whatever was copied.
  const bool written = CloseOutput();
  LogTotals(written);
  if (m_leftOut && (m_leftOut->rows > 0 || !m_leftOut->toTheEnd)) {
    std::wstring count = std::to_wstring(m_leftOut->rows);
    if (!m_leftOut->toTheEnd) count += logline::kLeftOutUnread;
    Log(Join(logline::kLeftOutRows, count));
  }
  Log(Join(logline::kElapsed, FormatTimeSpan(CurrentTime() - m_start, kElapsedPattern)));
  return written;
}

bool ExportRun::CloseOutput() {
  try {
    m_output.Close();
    return !m_outputFailed;
  } catch (const odbc::CDBException& e) {
    if (!m_outputFailed) LogError(e.m_strError);
  }
  return false;
}

}  // namespace

bool ExportQuery(odbc::CDatabase& source, IExportHost& host, std::wstring_view statement, std::wstring_view outputPath,
                 OutputFormat format) {
  return ExportQuery(source, host, statement, outputPath, format, ExportOptions{});
}

bool ExportQuery(odbc::CDatabase& source, IExportHost& host, std::wstring_view statement, std::wstring_view outputPath,
                 OutputFormat format, const ExportOptions& options) {
  ExportRun run(source, host, options);
  // Errors outside the steps that handle their own: logged, the output closed with the rows so
  // far, and the run failed. Nothing leaves the run.
  try {
    return run.Run(statement, outputPath, format);
  } catch (const odbc::CDBException& e) {
    try {
      host.AddErrorLine(e.m_strError);
    } catch (...) {
    }
  } catch (const std::exception& e) {
    try {
      host.AddErrorLine(text::Utf8ToWide(e.what()));
    } catch (...) {
    }
  } catch (...) {
    try {
      host.AddErrorLine(std::wstring(logline::kUnknownException));
    } catch (...) {
    }
  }
  try {
    run.CloseOutput();
  } catch (...) {
  }
  return false;
}

bool CreateFolderPath(std::wstring_view path) {
  std::size_t slash = path.find(L'/');
  if (slash == std::wstring_view::npos) return false;
  for (; slash != std::wstring_view::npos; slash = path.find(L'/', slash + 1)) {
    // A leading '/' and the second of a doubled '/' name no new folder.
    if (slash == 0 || path[slash - 1] == L'/') continue;
    const std::string folder = text::WideToUtf8(path.substr(0, slash));
    if (mkdir(folder.c_str(), 0777) != 0 && errno == ENOENT) return false;
  }
  return true;
}

}  // namespace quillon::engine

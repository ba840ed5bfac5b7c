// An export whose source is PostgreSQL, through psqlodbc, into both output formats.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "engine/ExportRun.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/ui/Prompts.h"
#include "tests/engine/ExportTestSupport.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TempDir.h"

namespace quillon::engine {
namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ExportFromPostgres, EveryRowReachesBothFormats) {
  drivers::RegisterBuiltInDrivers();
  quillon::testing::PostgresServer server;
  quillon::testing::TempDir dir;
  odbc::CDatabase source;
  source.OpenEx(server.ConnectString());
  source.ExecuteSQL(
      L"CREATE TABLE public.invoices (id int4, customer varchar(30), note text, amount numeric(10,2), "
      L"paid boolean, issued timestamp)");
  source.ExecuteSQL(
      L"INSERT INTO public.invoices VALUES (1, 'Ærøskøbing ApS', 'net 30 \U0001F4B6', 1234.50, true, "
      L"'2024-02-29 13:14:15'), (2, 'O''Hara', NULL, 0.10, false, NULL)");
  RecordingHost host;

  const OutputFormat excel = FormatExcel;
  const auto xls = dir / "invoices.xls";
  ASSERT_TRUE(ExportQuery(source, host, L"SELECT * FROM public.invoices ORDER BY id", xls.wstring(), excel));
  EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), L"Output table name: public_invoices"), host.lines.end());
  const auto cells = testing::DumpXls(xls);
  ASSERT_FALSE(cells.empty());
  EXPECT_EQ(cells[0], "sheet\tpublic_invoices\t3\t6");
  for (const char* expected : {"0\t1\t0\tnumber\t1.0", "0\t1\t1\ttext\tÆrøskøbing ApS",
                               "0\t1\t2\ttext\tnet 30 \U0001F4B6", "0\t1\t3\tnumber\t1234.5", "0\t1\t4\tbool\ttrue",
                               "0\t2\t1\ttext\tO'Hara", "0\t2\t3\tnumber\t0.1", "0\t2\t4\tbool\tfalse"}) {
    EXPECT_TRUE(Contains(cells, expected)) << expected;
  }

  const OutputFormat access = FormatAccess;
  const auto mdb = dir / "invoices.mdb";
  ASSERT_TRUE(ExportQuery(source, host, L"SELECT id, customer, amount, paid, issued FROM invoices ORDER BY id",
                          mdb.wstring(), access));
  EXPECT_EQ(testing::ReadAccessTable(mdb, "invoices"),
            (std::vector<std::string>{"id,customer,amount,paid,issued",
                                      // numeric columns take text columns, their digits as written
                                      "1,\"Ærøskøbing ApS\",\"1234.50\",1,\"2024-02-29 13:14:15\"",
                                      "2,\"O'Hara\",\"0.10\",0,"}));
}

// The server fails the statement on row 300 while its rows are fetched a row at a time: the
// rows before it are in the file and the server's message ends the log.
TEST(ExportFromPostgres, AnErrorOnARowKeepsTheRowsBeforeIt) {
  drivers::RegisterBuiltInDrivers();
  quillon::testing::PostgresServer server;
  quillon::testing::TempDir dir;
  odbc::CDatabase source;
  source.OpenEx(L"UseDeclareFetch=1;Fetch=1;" + server.ConnectString());
  RecordingHost host;
  const auto xls = dir / "divided.xls";
  EXPECT_FALSE(ExportQuery(source, host, L"SELECT n, 1 / (300 - n) AS q FROM generate_series(1, 1000) AS n",
                           xls.wstring(), FormatExcel));
  ASSERT_EQ(host.lines.size(), 7u);
  EXPECT_EQ(host.lines[5], L"Output table created");
  EXPECT_NE(host.lines[6].find(L"division by zero"), std::wstring::npos) << host.lines[6];
  EXPECT_EQ(testing::SheetSizes(xls), (std::vector<std::pair<std::string, int>>{{"generate_series", 300}}));
}

// A host whose stop request comes from another thread, as the dialog's Stop button and the
// command line's signals do.
class StoppableHost final : public IExportHost {
 public:
  void AddLogLine(const std::wstring& text) override {
    std::lock_guard lock(m_mutex);
    m_lines.push_back(text);
  }
  std::wstring GetDatePattern() override { return {}; }
  RowErrorAnswer AnswerRowError(const odbc::CDBException&) override { return RowErrorAnswer::SkipRow; }
  void ReportUnknownType() override {}
  bool IsStopRequested() override {
    if (m_stop) return true;
    // Armed: the stop comes just after this look, once the output is open, with the one cancel
    // the dialog and the command line send; no statement runs yet for it to reach.
    if (m_lateStopSource != nullptr && Logged(L"Input database opened") && m_armed.exchange(false)) {
      m_stop = true;
      m_lateStopSource->Cancel();
    }
    return false;
  }

  void Stop() { m_stop = true; }
  void StopJustAfterTheLookBeforeTheStatement(const odbc::CDatabase& source) {
    m_lateStopSource = &source;
    m_armed = true;
  }
  std::vector<std::wstring> Lines() {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }
  bool Logged(const std::wstring& line) {
    std::lock_guard lock(m_mutex);
    return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
  }

 private:
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_armed{false};
  const odbc::CDatabase* m_lateStopSource = nullptr;
  std::mutex m_mutex;
  std::vector<std::wstring> m_lines;
};

// Stops of a statement that notes on the server when it starts and when it has slept its whole
// length, so that a test sees whether it ran and whether the stop cut it short without timing it.
class StopOnPostgres : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kSleeper =
      L"SELECT nextval('started') AS s, pg_sleep(60) AS w, nextval('finished') AS f";

  void SetUp() override {
    drivers::RegisterBuiltInDrivers();
    m_source.OpenEx(m_server.ConnectString());
    m_source.ExecuteSQL(L"CREATE SEQUENCE started");
    m_source.ExecuteSQL(L"CREATE SEQUENCE finished");
  }

  // How many times the sleeper has started or finished so far, read on a connection of its own.
  std::int32_t Count(const std::wstring& sequence) {
    odbc::CDatabase db;
    db.OpenEx(m_server.ConnectString());
    odbc::CRecordset rs(&db);
    rs.Open(odbc::CRecordset::forwardOnly,
            L"SELECT CASE WHEN is_called THEN last_value ELSE 0 END::int4 FROM " + sequence,
            odbc::CRecordset::readOnly);
    odbc::CDBVariant value;
    rs.GetFieldValue(0, value);
    return value.m_dwType == odbc::DBVT_LONG ? value.m_lVal : -1;
  }

  // Whether the sleeper runs on the server right now.
  bool SleeperRunning(odbc::CDatabase& watcher) {
    odbc::CRecordset rs(&watcher);
    rs.Open(odbc::CRecordset::forwardOnly,
            L"SELECT count(*)::int4 FROM pg_stat_activity WHERE state = 'active' AND pid <> pg_backend_pid() "
            L"AND query LIKE '%pg_sleep(60)%'",
            odbc::CRecordset::readOnly);
    odbc::CDBVariant value;
    rs.GetFieldValue(0, value);
    return value.m_dwType == odbc::DBVT_LONG && value.m_lVal > 0;
  }

  // A stopped run: false, the stop ends the log, no table was made and no file written.
  static void ExpectStopped(bool exported, StoppableHost& host, const std::filesystem::path& out) {
    EXPECT_FALSE(exported);
    const std::vector<std::wstring> lines = host.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Thread terminated");
    EXPECT_EQ(std::find(lines.begin(), lines.end(), L"Output table created"), lines.end());
    EXPECT_FALSE(std::filesystem::exists(out)) << out;
  }

  quillon::testing::PostgresServer m_server;
  quillon::testing::TempDir m_dir;
  odbc::CDatabase m_source;
};

// A stop that came before the run began: the statement never reaches the server and no file is
// made, in either format.
TEST_F(StopOnPostgres, AStopBeforeTheRunRunsNothingAndCreatesNothing) {
  for (const OutputFormat format : {FormatExcel, FormatAccess}) {
    StoppableHost host;
    host.Stop();
    const auto out = m_dir / (format == FormatExcel ? "early.xls" : "early.mdb");
    ExpectStopped(ExportQuery(m_source, host, kSleeper, out.wstring(), format), host, out);
  }
  EXPECT_EQ(Count(L"started"), 0);
}

// One stop while the statement runs on the server, nothing else: the run cancels it itself.
TEST_F(StopOnPostgres, AStopCancelsTheRunningStatementAndCreatesNothing) {
  StoppableHost host;
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    odbc::CDatabase watcher;
    watcher.OpenEx(m_server.ConnectString());
    while (!done && !SleeperRunning(watcher)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    host.Stop();
  });
  const auto xls = m_dir / "slow.xls";
  const bool exported = ExportQuery(m_source, host, kSleeper, xls.wstring(), FormatExcel);
  done = true;
  stopper.join();
  ExpectStopped(exported, host, xls);
  EXPECT_EQ(Count(L"started"), 1);
  EXPECT_EQ(Count(L"finished"), 0);  // cut short, not slept out
  // The connection serves the next statement as before.
  const auto next = m_dir / "next.xls";
  RecordingHost again;
  EXPECT_TRUE(ExportQuery(m_source, again, L"SELECT 1 AS one", next.wstring(), FormatExcel));
}

// A stop whose one cancel came before the statement was running: the run cancels it itself.
TEST_F(StopOnPostgres, AStopWhoseCancelCameTooEarlyStillEndsTheStatement) {
  StoppableHost host;
  host.StopJustAfterTheLookBeforeTheStatement(m_source);
  const auto xls = m_dir / "early-cancel.xls";
  ExpectStopped(ExportQuery(m_source, host, kSleeper, xls.wstring(), FormatExcel), host, xls);
  EXPECT_EQ(Count(L"finished"), 0);
}

// A stop, with the one cancel the dialog and the command line send, just as the statement is
// about to go to the server: whether it lands before the statement is sent, while psqlodbc
// sends it, or once it runs, it is never lost.
TEST_F(StopOnPostgres, AStopAsTheStatementBeginsIsNeverLost) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    StoppableHost host;
    std::atomic<bool> done{false};
    std::thread stopper([&] {
      while (!done && !host.Logged(L"Input database opened")) std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::microseconds(100 * attempt));
      host.Stop();
      m_source.Cancel();
    });
    const auto xls = m_dir / ("race" + std::to_string(attempt) + ".xls");
    const bool exported = ExportQuery(m_source, host, kSleeper, xls.wstring(), FormatExcel);
    done = true;
    stopper.join();
    ExpectStopped(exported, host, xls);
    ASSERT_EQ(Count(L"finished"), 0) << "attempt " << attempt;
  }
}

}  // namespace
}  // namespace quillon::engine

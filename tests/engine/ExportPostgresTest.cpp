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
#include "platform/odbc/DBException.h"
#include "platform/odbc/Database.h"
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
  bool IsStopRequested() override { return m_stop; }

  void Stop() { m_stop = true; }
  std::vector<std::wstring> Lines() {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }

 private:
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::wstring> m_lines;
};

TEST(ExportFromPostgres, AStopCancelsTheRunningStatementAndCreatesNothing) {
  drivers::RegisterBuiltInDrivers();
  quillon::testing::PostgresServer server;
  quillon::testing::TempDir dir;
  odbc::CDatabase source;
  source.OpenEx(server.ConnectString());
  StoppableHost host;
  std::atomic<bool> cancelled{false};
  std::atomic<bool> done{false};
  // Stop, then cancel until the run ends: a cancel that reaches the server before the statement
  // does cancels nothing, so one taken request is not enough.
  std::thread stopper([&] {
    host.Stop();
    while (!done) {
      if (source.Cancel()) cancelled = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const OutputFormat excel = FormatExcel;
  const auto xls = dir / "slow.xls";
  // Far longer than the test waits for anything: only the cancel ends it in time.
  const bool exported = ExportQuery(source, host, L"SELECT pg_sleep(600) AS s", xls.wstring(), excel);
  done = true;
  stopper.join();
  EXPECT_FALSE(exported);
  EXPECT_TRUE(cancelled);
  const std::vector<std::wstring> lines = host.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), L"Thread terminated");
  EXPECT_EQ(std::find(lines.begin(), lines.end(), L"Output table created"), lines.end());
  EXPECT_FALSE(std::filesystem::exists(xls));
  // The connection serves the next statement as before.
  const auto next = dir / "next.xls";
  RecordingHost again;
  EXPECT_TRUE(ExportQuery(source, again, L"SELECT 1 AS one", next.wstring(), excel));
}

}  // namespace
}  // namespace quillon::engine

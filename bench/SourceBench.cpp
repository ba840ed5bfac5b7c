// Peak memory of reading 1,000,000 rows from the input drivers, with the connect string as a user
// types it and with the streaming options the host and the command-line tools add
// (platform/odbc/StreamingConnect.h): SQLite through the SQLite3 driver, and PostgreSQL through
// psqlodbc on a private server. Each read runs in a process of its own, so that its peak is its own.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "bench/Measure.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/odbc/StreamingConnect.h"
#include "platform/text/WideText.h"
#include "tests/support/PostgresServer.h"

namespace {

using namespace quillon;

constexpr long kRows = 1000000;
constexpr const wchar_t* kSqliteQuery = L"SELECT * FROM Orders";

// Reads every value of `statement` through CRecordset in a child process; prints its figures.
void ReadInChild(const std::wstring& connect, const std::wstring& statement, const char* what) {
  std::fflush(stdout);  // nothing buffered is printed twice, by the child too
  bench::Stopwatch watch;
  const pid_t child = fork();
  if (child == 0) {
    long rows = -1;
    try {
      odbc::CDatabase database;
      database.OpenEx(connect, odbc::CDatabase::noOdbcDialog);
      odbc::CRecordset rs(&database);
      rs.Open(odbc::CRecordset::forwardOnly, statement, odbc::CRecordset::readOnly);
      odbc::CDBVariant value;
      for (rows = 0; !rs.IsEOF(); rs.MoveNext(), ++rows) {
        for (std::int16_t c = 0; c < rs.GetODBCFieldCount(); ++c) rs.GetFieldValue(c, value);
      }
    } catch (const odbc::CDBException& e) {
      std::printf("%-40s failed: %s\n", what, e.what());
    }
    if (rows >= 0) bench::Report(what, rows, watch.Seconds());
    std::fflush(stdout);
    std::_Exit(rows == kRows ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
}

void Compare(const std::wstring& typed, const std::wstring& statement, const char* typedWhat,
             const char* streamingWhat) {
  std::printf("  as typed:  %s\n", text::WideToUtf8(typed).c_str());
  ReadInChild(typed, statement, typedWhat);
  const std::wstring streaming = odbc::WithStreamingFetch(typed);
  std::printf("  streaming: %s\n", text::WideToUtf8(streaming).c_str());
  ReadInChild(streaming, statement, streamingWhat);
}

}  // namespace

int main() {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quillon-bench-source-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);

  const std::filesystem::path db = dir / "orders.db";
  const std::wstring sqlite = L"DRIVER=SQLite3;Database=" + db.wstring();
  {
    odbc::CDatabase build;
    build.OpenEx(sqlite);  // made here, so not through the options that open only what exists
    build.ExecuteSQL(L"CREATE TABLE Orders (OrderID INTEGER, Customer VARCHAR(40), Price DOUBLE, Note VARCHAR(100))");
    build.ExecuteSQL(L"INSERT INTO Orders WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                     std::to_wstring(kRows) +
                     L") SELECT i, 'Customer ' || (i % 997), (i % 10000) / 7.0, 'note ' || i FROM n");
  }
  Compare(sqlite, kSqliteQuery, "SQLite3 driver, as typed", "SQLite3 driver, StepAPI=1");

  std::unique_ptr<testing::PostgresServer> server;
  try {
    server = std::make_unique<testing::PostgresServer>();
  } catch (const std::exception& e) {
    std::printf("PostgreSQL: no private server (%s); its figures are left out\n", e.what());
  }
  if (server) {
    const std::wstring statement =
        L"SELECT g AS OrderID, 'Customer ' || (g % 997) AS Customer, (g % 10000) / 7.0 "
        L"AS Price, 'note ' || g AS Note FROM generate_series(1, " +
        std::to_wstring(kRows) + L") AS g";
    Compare(server->ConnectString(), statement, "psqlodbc, as typed", "psqlodbc, UseDeclareFetch=1");
  }
  std::filesystem::remove_all(dir);
  return 0;
}

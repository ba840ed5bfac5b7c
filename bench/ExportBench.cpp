// The whole export, source to file: 1,000,000 rows of a 7-column Orders table read from SQLite
// and written to .xls and to .mdb, each timed against the SQLite shell writing the same table as
// CSV. Each measurement runs in a process of its own, so that its peak memory is its own.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/Measure.h"
#include "drivers/BuiltInDrivers.h"
#include "engine/ExportHost.h"
#include "engine/ExportRun.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"

namespace {

using namespace quillon;

constexpr long kDefaultRows = 1000000;
// QUILLON_BENCH_ROWS sets a smaller table, for profiling runs under callgrind.
const long kRows = [] {
  const char* rows = std::getenv("QUILLON_BENCH_ROWS");
  return rows != nullptr && std::atol(rows) > 0 ? std::atol(rows) : kDefaultRows;
}();

class QuietHost final : public engine::IExportHost {
 public:
  void AddLogLine(const std::wstring&) override {}
  std::wstring GetDatePattern() override { return {}; }
  int AnswerRowError(const odbc::CDBException&) override {
    ++refused;
    return 1;
  }
  void ReportUnknownType() override {}
  bool IsStopRequested() override { return false; }
  long refused = 0;
};

std::wstring SourceConnect(const std::filesystem::path& db) {
  return L"DRIVER=SQLite3;StepAPI=1;Database=" + db.wstring();
}

void MakeOrders(const std::filesystem::path& path) {
  odbc::CDatabase db;
  db.OpenEx(SourceConnect(path));
  db.ExecuteSQL(
      L"CREATE TABLE Orders (OrderID INTEGER, Customer VARCHAR(40), OrderDate TIMESTAMP, Quantity SMALLINT, "
      L"Price DOUBLE, Shipped BIT, Note VARCHAR(100))");
  db.ExecuteSQL(L"INSERT INTO Orders WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                std::to_wstring(kRows) +
                L") SELECT i, 'Customer ' || (i % 997), datetime('2020-01-01', '+' || (i % 100000) || ' minutes'), "
                L"i % 300, (i % 10000) / 7.0, i % 2, CASE WHEN i % 5 = 0 THEN 'Zoë''s note ' || i END FROM n");
}

// Runs `work` in a child process and returns its wall time in seconds (negative on failure).
double InChild(const std::function<long()>& work, const char* what, double reference) {
  bench::Stopwatch watch;
  const pid_t child = fork();
  if (child == 0) {
    const long rows = work();
    const double seconds = watch.Seconds();
    bench::Report(what, rows, seconds);
    if (reference > 0) std::printf("%-40s %.2f x the CSV time\n", "", seconds / reference);
    std::fflush(stdout);
    std::_Exit(rows >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? watch.Seconds() : -1;
}

long Export(const std::filesystem::path& db, const std::filesystem::path& out, engine::OutputFormat format) {
  drivers::RegisterBuiltInDrivers();
  odbc::CDatabase source;
  source.OpenEx(SourceConnect(db));
  QuietHost host;
  const std::int32_t value = format;
  const bool ok = engine::ExportQuery(source, host, L"SELECT * FROM Orders", out.wstring(), &value);
  return ok && host.refused == 0 ? kRows : -1;
}

}  // namespace

int main() {
  // A folder of its own, so that runs side by side (a profiling run among them) do not collide.
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quillon-bench-export-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::filesystem::path db = dir / "orders.db";
  MakeOrders(db);

  // The reference runs twice and the faster run counts, so that a cold file cache on the first
  // read of the new database does not flatter the ratios.
  const auto csvRun = [&] {
    const std::string command = "sqlite3 -csv " + db.string() + " 'SELECT * FROM Orders' > " + (dir / "o.csv").string();
    return std::system(command.c_str()) == 0 ? kRows : -1L;
  };
  const double firstCsv = InChild(csvRun, "sqlite3 -csv (reference, first run)", 0);
  const double csv = std::min(firstCsv, InChild(csvRun, "sqlite3 -csv (reference, second run)", 0));
  InChild(
      [&] {
        odbc::CDatabase database;
        database.OpenEx(SourceConnect(db));
        odbc::CRecordset rs(&database);
        rs.Open(odbc::CRecordset::forwardOnly, L"SELECT * FROM Orders", odbc::CRecordset::readOnly);
        long rows = 0;
        odbc::CDBVariant value;
        for (; !rs.IsEOF(); rs.MoveNext(), ++rows) {
          for (std::int16_t c = 0; c < rs.GetODBCFieldCount(); ++c) rs.GetFieldValue(c, value);
        }
        return rows;
      },
      "read through CRecordset only", csv);
  InChild([&] { return Export(db, dir / "orders.xls", engine::FormatExcel); }, "export to .xls", csv);
  InChild([&] { return Export(db, dir / "orders.mdb", engine::FormatAccess); }, "export to .mdb", csv);
  std::filesystem::remove_all(dir);
  return 0;
}

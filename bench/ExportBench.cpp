// The whole export as a user runs it: `quillon-export` copying a 7-column Orders table into .xls
// and into .mdb, each run paired with the source's own client writing the same rows as text
// (`sqlite3 -csv` for a SQLite file, `psql -A -F,` for a PostgreSQL server this program starts).
// Every command runs as a process of its own; its wall time is measured here and its peak
// memory is the kernel's account of it (wait4). Pairs run one after the other (reference,
// export, reference, export, ...) and the ratio quoted is the median of the pairs' ratios, so
// that it holds while the machine's speed drifts.
//
//   bench_export              100,000, 1,000,000 and 3,000,000 rows, three pairs each
//   QUILLON_BENCH_ROWS="1000000"      other row counts (blank-separated)
//   QUILLON_BENCH_PAIRS=5             pairs per figure
//   QUILLON_BENCH_SOURCES="sqlite"    sqlite, postgres or both (the default)
//
// Beside the exports it times reading alone: the same rows fetched through the export's reader
// thread and turned into values, with nothing written (this program run again with
// --read-only). What an export takes beyond that is the writing.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/RowReader.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/odbc/SqliteThreading.h"
#include "platform/odbc/StreamingConnect.h"
#include "platform/text/WideText.h"
#include "tests/support/PostgresServer.h"

namespace {

using namespace quillon;
namespace fs = std::filesystem;

constexpr long kDefaultRowCounts[] = {100000, 1000000, 3000000};
constexpr int kDefaultPairs = 3;
constexpr int kColumns = 7;
constexpr double kKibPerMib = 1024.0;
constexpr const char* kStatement = "SELECT * FROM Orders";

struct Measurement {
  double seconds = 0;
  double peakMib = 0;
  bool ok = false;
};

// Runs `argv` with standard output into `out` and standard error into `err`.
Measurement RunProcess(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFd < 0 || errFd < 0 || dup2(outFd, STDOUT_FILENO) < 0 || dup2(errFd, STDERR_FILENO) < 0) _exit(127);
    close(outFd);
    close(errFd);
    execvp(args[0], args.data());
    _exit(127);
  }
  Measurement m;
  if (child < 0) return m;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peakMib = static_cast<double>(usage.ru_maxrss) / kKibPerMib;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && access((fs::path(folder) / program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// One source: how to fill its Orders table, the reference command and the connect string the
// export reads through.
struct Source {
  std::string title;
  std::string referenceName;
  std::function<void(long rows)> fill;
  std::function<std::vector<std::string>()> reference;
  std::string connect;
};

struct Figure {
  std::vector<double> seconds, ratios;
  double peakMib = 0;
  bool failed = false;
};

void PrintFigure(const char* what, const Figure& f, long rows, bool withRatio, const std::string& reference) {
  if (f.failed) {
    std::printf("  %-22s failed (see above)\n", what);
    return;
  }
  const double seconds = Median(f.seconds);
  std::printf("  %-22s %7.2f s %10.0f rows/s   peak %6.1f MiB", what, seconds, static_cast<double>(rows) / seconds,
              f.peakMib);
  if (withRatio) {
    std::printf("   %.2f x %s (pairs: ", Median(f.ratios), reference.c_str());
    for (std::size_t i = 0; i < f.ratios.size(); ++i) std::printf(i == 0 ? "%.2f" : " %.2f", f.ratios[i]);
    std::printf(")");
  }
  std::printf("\n");
  std::fflush(stdout);
}

// Reads every row of `statement` as an export does (the same connect options, the reader thread,
// each value converted), writing nothing. The process's exit status says whether it worked.
int ReadOnly(const std::string& connect, const std::string& statement) {
  try {
    const std::wstring wide = text::Utf8ToWide(connect);
    odbc::UseSqliteMultiThreadMode(wide);
    odbc::CDatabase database;
    database.OpenEx(odbc::WithStreamingFetch(wide), odbc::CDatabase::noOdbcDialog);
    odbc::CRecordset recordset(&database);
    recordset.Open(odbc::CRecordset::forwardOnly, text::Utf8ToWide(statement), odbc::CRecordset::readOnly);
    const std::int16_t columns = recordset.GetODBCFieldCount();
    engine::RowReader reader(recordset);
    odbc::CDBVariant value;
    while (reader.Next()) {
      for (std::int16_t c = 0; c < columns; ++c) reader.GetValue(c, value);
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

void Bench(const Source& source, const std::vector<long>& rowCounts, int pairs, const fs::path& exporter,
           const fs::path& dir) {
  const fs::path self = fs::canonical("/proc/self/exe");
  for (const long rows : rowCounts) {
    source.fill(rows);
    std::printf("%s, %ld rows x %d columns, median of %d pairs\n", source.title.c_str(), rows, kColumns, pairs);
    std::fflush(stdout);
    const fs::path text = dir / "reference.txt", err = dir / "stderr.txt", log = dir / "export.log";
    // One reference run first, so that no timed run reads a cold file cache.
    RunProcess(source.reference(), text, err);

    Figure reference, read, xls, mdb;
    for (int pair = 0; pair < pairs; ++pair) {
      for (const char* extension : {"", "xls", "mdb"}) {
        Figure& figure = *extension == '\0' ? read : std::strcmp(extension, "xls") == 0 ? xls : mdb;
        if (figure.failed) continue;
        const Measurement ref = RunProcess(source.reference(), text, err);
        if (!ref.ok) {
          std::printf("  %s failed: %s\n", source.referenceName.c_str(), ReadText(err).c_str());
          reference.failed = true;
          return;
        }
        reference.seconds.push_back(ref.seconds);
        reference.peakMib = std::max(reference.peakMib, ref.peakMib);

        const fs::path out = dir / (std::string("orders.") + extension);
        fs::remove(out);  // a new file each time, not a further table in the last one
        const Measurement run = *extension == '\0'
                                    ? RunProcess({self.string(), "--read-only", source.connect, kStatement}, log, err)
                                    : RunProcess({exporter.string(), "--connect", source.connect, "--sql", kStatement,
                                                  "--out", out.string()},
                                                 log, err);
        if (!run.ok) {
          std::printf("  %s%s failed:\n%s%s\n", *extension == '\0' ? "reading alone" : "export to .", extension,
                      ReadText(log).c_str(), ReadText(err).c_str());
          figure.failed = true;
          continue;
        }
        figure.seconds.push_back(run.seconds);
        figure.ratios.push_back(run.seconds / ref.seconds);
        figure.peakMib = std::max(figure.peakMib, run.peakMib);
      }
    }
    PrintFigure(source.referenceName.c_str(), reference, rows, false, "");
    PrintFigure("reading alone", read, rows, true, source.referenceName);
    PrintFigure("export to .xls", xls, rows, true, source.referenceName);
    PrintFigure("export to .mdb", mdb, rows, true, source.referenceName);
  }
}

Source SqliteSource(const fs::path& dir) {
  const fs::path db = dir / "orders.db";
  Source s;
  s.title = "SQLite (SQLite3 ODBC driver, StepAPI=1)";
  s.referenceName = "sqlite3 -csv";
  s.connect = "DRIVER=SQLite3;StepAPI=1;Database=" + db.string();
  s.fill = [db, connect = s.connect](long rows) {
    fs::remove(db);
    odbc::CDatabase database;
    database.OpenEx(text::Utf8ToWide(connect));
    database.ExecuteSQL(
        L"CREATE TABLE Orders (OrderID INTEGER, Customer VARCHAR(40), OrderDate TIMESTAMP, Quantity SMALLINT, "
        L"Price DOUBLE, Shipped BIT, Note VARCHAR(100))");
    database.ExecuteSQL(
        L"INSERT INTO Orders WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_wstring(rows) +
        L") SELECT i, 'Customer ' || (i % 997), datetime('2020-01-01', '+' || (i % 100000) || ' minutes'), "
        L"i % 300, (i % 10000) / 7.0, i % 2, CASE WHEN i % 5 = 0 THEN 'Zoë''s note ' || i END FROM n");
  };
  s.reference = [db] { return std::vector<std::string>{"sqlite3", "-csv", db.string(), kStatement}; };
  return s;
}

// The PostgreSQL server's socket folder and port, read back from its connect string.
std::string ConnectValue(const std::string& connect, const std::string& key) {
  const std::size_t at = connect.find(key + "=");
  if (at == std::string::npos) return {};
  const std::size_t begin = at + key.size() + 1;
  return connect.substr(begin, connect.find(';', begin) - begin);
}

Source PostgresSource(const testing::PostgresServer& server) {
  const std::string base = text::WideToUtf8(server.ConnectString());
  Source s;
  s.title = "PostgreSQL (psqlODBC Unicode, UseDeclareFetch=1)";
  s.referenceName = "psql -A -F,";
  s.connect = base + ";UseDeclareFetch=1";
  s.fill = [connect = s.connect](long rows) {
    odbc::CDatabase database;
    database.OpenEx(text::Utf8ToWide(connect));
    database.ExecuteSQL(L"DROP TABLE IF EXISTS Orders");
    database.ExecuteSQL(
        L"CREATE TABLE Orders (OrderID INTEGER, Customer VARCHAR(40), OrderDate TIMESTAMP, Quantity SMALLINT, "
        L"Price DOUBLE PRECISION, Shipped BOOLEAN, Note VARCHAR(100))");
    database.ExecuteSQL(
        L"INSERT INTO Orders SELECT i, 'Customer ' || (i % 997), "
        L"timestamp '2020-01-01' + (i % 100000) * interval '1 minute', i % 300, (i % 10000) / 7.0, "
        L"i % 2 = 1, CASE WHEN i % 5 = 0 THEN 'Zoë''s note ' || i END FROM generate_series(1, " +
        std::to_wstring(rows) + L") AS i");
    database.ExecuteSQL(L"VACUUM ANALYZE Orders");
  };
  const std::string host = ConnectValue(base, "Servername"), port = ConnectValue(base, "Port");
  const std::string user = ConnectValue(base, "Username"), name = ConnectValue(base, "Database");
  s.reference = [=] {
    return std::vector<std::string>{"psql", "-X", "-q", "-A", "-F,", "-h", host,      "-p",
                                    port,   "-U", user, "-d", name,  "-c", kStatement};
  };
  return s;
}

std::vector<long> RowCounts() {
  std::vector<long> counts;
  if (const char* list = std::getenv("QUILLON_BENCH_ROWS")) {
    std::stringstream in(list);
    for (long n = 0; in >> n;) {
      if (n > 0) counts.push_back(n);
    }
  }
  if (counts.empty()) counts.assign(std::begin(kDefaultRowCounts), std::end(kDefaultRowCounts));
  return counts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--read-only") == 0) return ReadOnly(argv[2], argv[3]);
  const fs::path exporter = fs::canonical("/proc/self/exe").parent_path() / "quillon-export";
  const std::vector<long> rowCounts = RowCounts();
  const char* pairsText = std::getenv("QUILLON_BENCH_PAIRS");
  const int pairs = pairsText != nullptr && std::atoi(pairsText) > 0 ? std::atoi(pairsText) : kDefaultPairs;
  const char* sourcesText = std::getenv("QUILLON_BENCH_SOURCES");
  const std::string sources = sourcesText != nullptr ? sourcesText : "sqlite postgres";

  // A folder of its own, so that runs side by side (a profiling run among them) do not collide.
  const fs::path dir = fs::temp_directory_path() / ("quillon-bench-export-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::printf("Whole export through %s; each figure the median of its runs\n", exporter.c_str());
  try {
    if (sources.find("sqlite") != std::string::npos) {
      if (OnPath("sqlite3")) {
        Bench(SqliteSource(dir), rowCounts, pairs, exporter, dir);
      } else {
        std::printf("SQLite: skipped, sqlite3 is not installed\n");
      }
    }
    if (sources.find("postgres") != std::string::npos) {
      if (OnPath("psql")) {
        const testing::PostgresServer server;
        Bench(PostgresSource(server), rowCounts, pairs, exporter, dir);
      } else {
        std::printf("PostgreSQL: skipped, psql is not installed\n");
      }
    }
  } catch (const std::exception& e) {
    std::printf("bench_export: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
  fs::remove_all(dir);
  return 0;
}

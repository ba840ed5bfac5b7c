// The whole export as a user runs it: `quillon-export` copying a 7-column Orders table into .xls
// and into .mdb (from SQLite also into .xlsx, .csv and .txt), each run paired with the source's
// own client writing the same rows as text (`sqlite3 -csv` for a SQLite file, `psql -A -F,` for a
// PostgreSQL server this program starts). Every command runs as a process of its own; its wall
// time is measured here and its peak memory is the kernel's account of it (wait4). Pairs run one
// after the other (reference, export, reference, export, ...) and the ratio quoted is the median
// of the pairs' ratios, so that it holds while the machine's speed drifts. A run counts only if
// its file holds every row: the lines of a .csv or .txt are counted each time, and the first
// .xlsx is read back by openpyxl.
//
//   bench_export              100,000, 1,000,000 and 3,000,000 rows, three pairs each
//   QUILLON_BENCH_ROWS="1000000"      other row counts (blank-separated)
//   QUILLON_BENCH_PAIRS=5             pairs per figure
//   QUILLON_BENCH_SOURCES="sqlite"    sqlite, postgres or both (the default)
//   QUILLON_BENCH_FORMATS="xlsx csv"  what is timed: read, xls, mdb, xlsx, csv, txt, odbc
//   QUILLON_BENCH_OPENPYXL_ROWS=0     the row count at which openpyxl's writer (write-only mode,
//                                     /usr/bin/python3) makes the same workbook, 1,000,000 unless
//                                     set; at 3,000,000 rows it would take many minutes
//   QUILLON_BENCH_CALLGRIND_ROWS=0    the rows whose instructions callgrind counts per thread,
//                                     20,000 unless set (0: not counted)
//
// Beside the exports it times reading alone: the same rows fetched through the export's reader
// thread and turned into values, with nothing written (this program run again with
// --read-only). What an export takes beyond that is the writing.
//
// From SQLite it also times the ODBC driver (odbc): a program of a user's (odbc_insert_orders,
// OdbcInsert.c) writes the same rows through the driver manager into .mdb and .xls with
// DRIVER={Quillon}, by parameter arrays and one commit, once making them itself and once reading
// them from the source, each run beside quillon-export writing the same file; at 1,000,000 rows,
// or at every count QUILLON_BENCH_ROWS gives. The
// driver is registered in an odbcinst.ini of the benchmark's own folder (ODBCSYSINI), which also
// names the drivers the system's odbcinst.ini does.
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
#include <string_view>
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
constexpr long kDefaultCallgrindRows = 20000;

struct Measurement {
  double seconds = 0;
  double peakMib = 0;
  bool ok = false;
};

// Runs `argv` with standard output into `out` and standard error into `err`, its environment
// this program's with the NAME=value entries of `environment` added.
Measurement RunProcess(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err,
                       const std::vector<std::string>& environment = {}) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> variables;
  for (const std::string& v : environment) variables.push_back(const_cast<char*>(v.c_str()));
  for (char** v = environ; *v != nullptr; ++v) {
    const std::string_view entry(*v);
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const std::string& added) {
      return entry.substr(0, entry.find('=') + 1) == std::string_view(added).substr(0, added.find('=') + 1);
    });
    if (!replaced) variables.push_back(*v);
  }
  variables.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFd < 0 || errFd < 0 || dup2(outFd, STDOUT_FILENO) < 0 || dup2(errFd, STDERR_FILENO) < 0) _exit(127);
    close(outFd);
    close(errFd);
    execvpe(args[0], args.data(), variables.data());
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
  std::string formats = "read xls mdb";  // what Bench times, as QUILLON_BENCH_FORMATS names them
  fs::path openpyxlDatabase;             // the SQLite file openpyxl's writer reads, if any
  bool throughDriver = false;            // the ODBC driver is timed on its rows (odbc)
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

// An output format the export is timed into, and the goals printed beside its figures (0: none).
struct Format {
  const char* extension;  // "" for reading alone
  double ratioGoal = 0;
  double peakGoalMib = 0;
};

constexpr double kTextRatioGoal = 1.3, kXlsxRatioGoal = 2.0, kPeakGoalMib = 32;
constexpr Format kFormats[] = {{""},
                               {"xls"},
                               {"mdb"},
                               {"xlsx", kXlsxRatioGoal, kPeakGoalMib},
                               {"csv", kTextRatioGoal, kPeakGoalMib},
                               {"txt", kTextRatioGoal, kPeakGoalMib}};
// openpyxl writes some 10,000 rows a second: it runs at this row count only.
constexpr long kDefaultOpenpyxlRows = 1000000;
constexpr double kOpenpyxlSpeedupGoal = 10;
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kOpenpyxlScript = QUILLON_BENCH_OPENPYXL;

bool Wanted(const std::string& list, const std::string& extension) {
  std::stringstream in(list);
  for (std::string word; in >> word;) {
    if (word == (extension.empty() ? "read" : extension)) return true;
  }
  return false;
}

long LineCount(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  long lines = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    lines += std::count(buffer.data(), buffer.data() + in.gcount(), '\n');
  }
  return lines;
}

bool OpenpyxlPresent() {
  return access(kPython, X_OK) == 0 && RunProcess({kPython, "-c", "import openpyxl"}, "/dev/null", "/dev/null").ok;
}

// The data rows in an export's output (the line of column names left out), or -1 where it cannot
// be told. A workbook is read back by openpyxl, which takes about as long as writing it: only
// when `readWorkbook` is set.
long RowsWritten(const std::string& extension, const fs::path& out, bool readWorkbook, const fs::path& dir) {
  if (extension == "csv" || extension == "txt") return LineCount(out) - 1;
  if (extension != "xlsx" || !readWorkbook || !OpenpyxlPresent()) return -1;
  const fs::path listing = dir / "sheets.txt";
  if (!RunProcess({kPython, kOpenpyxlScript, "rows", out.string()}, listing, dir / "stderr.txt").ok) return -2;
  std::stringstream lines(ReadText(listing));
  std::printf("  .xlsx read back by openpyxl (read-only), data rows per sheet:");
  long total = -2;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) {
      std::printf(" %s %s", line.substr(0, tab).c_str(), line.substr(tab + 1).c_str());
    } else {
      total = std::atol(line.c_str());
    }
  }
  std::printf("\n");
  return total;
}

void PrintGoals(const Format& format, const Figure& figure) {
  if (figure.failed || (format.ratioGoal == 0 && format.peakGoalMib == 0)) return;
  const double ratio = Median(figure.ratios);
  std::printf("  %-22s goals: ratio within %.1f x (%s), peak within %.0f MiB (%s)\n", "", format.ratioGoal,
              ratio <= format.ratioGoal ? "met" : "missed", format.peakGoalMib,
              figure.peakMib <= format.peakGoalMib ? "met" : "missed");
}

// The ODBC driver against quillon-export: the program that copies the rows through the driver,
// the formats with the goals printed beside them, and the row count timed unless
// QUILLON_BENCH_ROWS gives others.
constexpr const char* kCopyProgram = "odbc_insert_orders";
constexpr const char* kDriverLibrary = QUILLON_BENCH_ODBC_DRIVER;
constexpr double kDriverRatioGoal = 1.5;
constexpr Format kDriverFormats[] = {{"mdb", kDriverRatioGoal, kPeakGoalMib}, {"xls", kDriverRatioGoal, kPeakGoalMib}};
constexpr long kDefaultDriverRows = 1000000;

std::vector<long> GivenRowCounts() {
  std::vector<long> counts;
  if (const char* list = std::getenv("QUILLON_BENCH_ROWS")) {
    std::stringstream in(list);
    for (long n = 0; in >> n;) {
      if (n > 0) counts.push_back(n);
    }
  }
  return counts;
}

// An odbcinst.ini in `folder` that names the driver just built as Quillon and every driver the
// system's odbcinst.ini names (but an installed Quillon); returns the environment entries that
// have the driver manager read it, and an empty odbc.ini beside it, instead of the system's.
std::vector<std::string> PrivateDriverRegistry(const fs::path& folder) {
  fs::create_directories(folder);
  const char* systemFolder = std::getenv("ODBCSYSINI");
  std::stringstream lines(ReadText(fs::path(systemFolder != nullptr ? systemFolder : "/etc") / "odbcinst.ini"));
  std::ofstream ini(folder / "odbcinst.ini");
  ini << "[Quillon]\nDriver = " << kDriverLibrary << "\n\n";
  bool skipping = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind('[', 0) == 0) skipping = line.rfind("[Quillon]", 0) == 0;
    if (!skipping) ini << line << "\n";
  }
  std::ofstream(folder / "odbc.ini").close();
  return {"ODBCSYSINI=" + folder.string(), "ODBCINI=" + (folder / "odbc.ini").string()};
}

// What one run of the copying program reports, and whether it copied every row.
struct ProgramRun {
  Measurement measurement;
  bool ok = false;
  long arrayRows = 0;
  double fetch = 0, execute = 0, commit = 0;
};

ProgramRun RunProgram(const std::vector<std::string>& argv, long rows, const fs::path& log, const fs::path& err,
                      const std::vector<std::string>& environment) {
  ProgramRun run;
  run.measurement = RunProcess(argv, log, err, environment);
  long done = -1;
  const std::string report = ReadText(log);
  const bool read = std::sscanf(report.c_str(), "rows %ld array %ld fetch %lf execute %lf commit %lf", &done,
                                &run.arrayRows, &run.fetch, &run.execute, &run.commit) == 5;
  run.ok = run.measurement.ok && read && done == rows;
  if (!run.ok)
    std::printf("  %s failed (%ld rows copied):\n%s%s\n", kCopyProgram, done, report.c_str(), ReadText(err).c_str());
  return run;
}

// Triples of quillon-export and the program writing the same rows into the same format through
// the driver, one after the other: the program once making the rows itself (what the goal
// measures: the driver's work against the export's) and once reading them from the source as
// the export does (one thread doing both, where the export reads on a thread of its own). The
// ratios are the program's time over the export's. A run of the program counts only if it
// reports every row copied.
void DriverPairs(const Source& source, long rows, int pairs, const fs::path& exporter, const fs::path& dir) {
  const fs::path program = exporter.parent_path() / kCopyProgram;
  const std::vector<std::string> environment = PrivateDriverRegistry(dir / "odbc");
  const fs::path log = dir / "export.log", err = dir / "stderr.txt";
  std::printf(
      "%s, %ld rows through the ODBC driver (%s: parameter arrays, one commit) against quillon-export, median of %d "
      "pairs\n",
      source.title.c_str(), rows, kCopyProgram, pairs);
  std::fflush(stdout);
  for (const Format& format : kDriverFormats) {
    const std::string extension = format.extension;
    Figure exported, made, copied;
    std::vector<double> making, executing, committing;
    long arrayRows = 0;
    for (int pair = 0; pair < pairs; ++pair) {
      const fs::path out = dir / ("orders." + extension), copy = dir / ("driver." + extension);
      fs::remove(out);
      const Measurement run = RunProcess(
          {exporter.string(), "--connect", source.connect, "--sql", kStatement, "--out", out.string()}, log, err);
      if (!run.ok) {
        std::printf("  export to .%s failed:\n%s%s\n", extension.c_str(), ReadText(log).c_str(), ReadText(err).c_str());
        exported.failed = true;
        break;
      }
      fs::remove(copy);
      const ProgramRun own =
          RunProgram({program.string(), "--make", std::to_string(rows), copy.string()}, rows, log, err, environment);
      fs::remove(copy);
      const ProgramRun through =
          RunProgram({program.string(), source.connect, copy.string()}, rows, log, err, environment);
      if (!own.ok || !through.ok) {
        made.failed = !own.ok;
        copied.failed = !through.ok;
        break;
      }
      exported.seconds.push_back(run.seconds);
      exported.peakMib = std::max(exported.peakMib, run.peakMib);
      for (auto [figure, programRun] : {std::pair{&made, &own}, std::pair{&copied, &through}}) {
        figure->seconds.push_back(programRun->measurement.seconds);
        figure->ratios.push_back(programRun->measurement.seconds / run.seconds);
        figure->peakMib = std::max(figure->peakMib, programRun->measurement.peakMib);
      }
      arrayRows = own.arrayRows;
      making.push_back(own.fetch);
      executing.push_back(own.execute);
      committing.push_back(own.commit);
    }
    PrintFigure(("quillon-export to ." + extension).c_str(), exported, rows, false, "");
    PrintFigure(("driver, own rows, ." + extension).c_str(), made, rows, true, "quillon-export");
    PrintGoals(format, made);
    if (!made.failed) {
      std::printf("  %-22s of which making rows %.2f s, executing arrays of %ld rows %.2f s, committing %.2f s\n", "",
                  Median(making), arrayRows, Median(executing), Median(committing));
    }
    PrintFigure(("driver, read rows, ." + extension).c_str(), copied, rows, true, "quillon-export");
    std::fflush(stdout);
  }
}

void Bench(const Source& source, const std::vector<long>& rowCounts, int pairs, const fs::path& exporter,
           const fs::path& dir, long openpyxlRows) {
  const fs::path self = fs::canonical("/proc/self/exe");
  bool workbookChecked = false;
  for (const long rows : rowCounts) {
    source.fill(rows);
    std::printf("%s, %ld rows x %d columns, median of %d pairs\n", source.title.c_str(), rows, kColumns, pairs);
    std::fflush(stdout);
    const fs::path text = dir / "reference.txt", err = dir / "stderr.txt", log = dir / "export.log";
    // One reference run first, so that no timed run reads a cold file cache.
    RunProcess(source.reference(), text, err);
    const long referenceLines = LineCount(text);

    Figure reference;
    std::vector<Figure> figures(std::size(kFormats));
    for (int pair = 0; pair < pairs; ++pair) {
      for (std::size_t f = 0; f < std::size(kFormats); ++f) {
        const std::string extension = kFormats[f].extension;
        Figure& figure = figures[f];
        if (figure.failed || !Wanted(source.formats, extension)) continue;
        const Measurement ref = RunProcess(source.reference(), text, err);
        if (!ref.ok) {
          std::printf("  %s failed: %s\n", source.referenceName.c_str(), ReadText(err).c_str());
          reference.failed = true;
          return;
        }
        if (LineCount(text) != referenceLines) {
          std::printf("  %s wrote %ld lines, then %ld\n", source.referenceName.c_str(), referenceLines,
                      LineCount(text));
          return;
        }
        reference.seconds.push_back(ref.seconds);
        reference.peakMib = std::max(reference.peakMib, ref.peakMib);

        const fs::path out = dir / ("orders." + extension);
        fs::remove(out);  // a new file each time, not a further table in the last one
        const Measurement run = extension.empty()
                                    ? RunProcess({self.string(), "--read-only", source.connect, kStatement}, log, err)
                                    : RunProcess({exporter.string(), "--connect", source.connect, "--sql", kStatement,
                                                  "--out", out.string()},
                                                 log, err);
        if (!run.ok) {
          std::printf("  %s%s failed:\n%s%s\n", extension.empty() ? "reading alone" : "export to .", extension.c_str(),
                      ReadText(log).c_str(), ReadText(err).c_str());
          figure.failed = true;
          continue;
        }
        // A figure counts only an export that wrote every row.
        const long written = RowsWritten(extension, out, !workbookChecked, dir);
        if (extension == "xlsx" && written != -1) workbookChecked = true;
        if (written != -1 && written != rows) {
          std::printf("  export to .%s wrote %ld rows, not %ld\n", extension.c_str(), written, rows);
          figure.failed = true;
          continue;
        }
        figure.seconds.push_back(run.seconds);
        figure.ratios.push_back(run.seconds / ref.seconds);
        figure.peakMib = std::max(figure.peakMib, run.peakMib);
      }
    }
    if (!reference.seconds.empty() || reference.failed) {
      PrintFigure(source.referenceName.c_str(), reference, rows, false, "");
    }
    for (std::size_t f = 0; f < std::size(kFormats); ++f) {
      const std::string extension = kFormats[f].extension;
      if (!Wanted(source.formats, extension)) continue;
      const std::string what = extension.empty() ? "reading alone" : "export to ." + extension;
      PrintFigure(what.c_str(), figures[f], rows, true, source.referenceName);
      PrintGoals(kFormats[f], figures[f]);
    }
    const std::vector<long> given = GivenRowCounts();
    if (source.throughDriver && Wanted(source.formats, "odbc") && (given.empty() ? rows == kDefaultDriverRows : true)) {
      DriverPairs(source, rows, pairs, exporter, dir);
    }
    const auto xlsxAt = std::find_if(std::begin(kFormats), std::end(kFormats),
                                     [](const Format& f) { return std::strcmp(f.extension, "xlsx") == 0; });
    const Figure& xlsx = figures[static_cast<std::size_t>(xlsxAt - std::begin(kFormats))];
    if (source.openpyxlDatabase.empty() || !Wanted(source.formats, "xlsx") || xlsx.failed) continue;
    if (rows != openpyxlRows) {
      std::printf("  openpyxl: not run at %ld rows (only at %ld: it writes about 10,000 rows/s)\n", rows, openpyxlRows);
      continue;
    }
    if (!OpenpyxlPresent()) {
      std::printf("  openpyxl: skipped, %s cannot import openpyxl (python3-openpyxl)\n", kPython);
      continue;
    }
    const fs::path workbook = dir / "openpyxl.xlsx";
    fs::remove(workbook);
    const Measurement py =
        RunProcess({kPython, kOpenpyxlScript, "write", source.openpyxlDatabase.string(), workbook.string()}, log, err);
    if (!py.ok) {
      std::printf("  openpyxl failed:\n%s\n", ReadText(err).c_str());
      continue;
    }
    const double speedup = py.seconds / Median(xlsx.seconds);
    std::printf("  %-22s %7.2f s %10.0f rows/s   peak %6.1f MiB   one run (only at %ld rows)\n", "openpyxl write-only",
                py.seconds, static_cast<double>(rows) / py.seconds, py.peakMib, rows);
    std::printf("  %-22s .xlsx export %.1f x faster than openpyxl (goal: %.0f x or more, %s)\n", "", speedup,
                kOpenpyxlSpeedupGoal, speedup >= kOpenpyxlSpeedupGoal ? "met" : "missed");
    std::fflush(stdout);
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
  s.formats = "read xls mdb xlsx csv txt odbc";
  s.openpyxlDatabase = db;
  s.throughDriver = true;
  return s;
}

// The PostgreSQL server's socket folder and port, read back from its connect string.
std::string ConnectValue(const std::string& connect, const std::string& key) {
  const std::size_t at = connect.find(key + "=");
  if (at == std::string::npos) return {};
  const std::size_t begin = at + key.size() + 1;
  return connect.substr(begin, connect.find(';', begin) - begin);
}

// The psql program itself: Debian's `psql` on the path is a Perl script that runs it, whose own
// start-up would be counted (and timed) as the reference's, and which callgrind would follow
// instead of psql.
std::string PsqlProgram() {
  std::string best = "psql";
  int bestVersion = -1;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > bestVersion && fs::exists(entry.path() / "bin" / "psql")) {
      bestVersion = version;
      best = (entry.path() / "bin" / "psql").string();
    }
  }
  return best;
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
    return std::vector<std::string>{PsqlProgram(), "-X", "-q", "-A", "-F,", "-h", host,      "-p",
                                    port,          "-U", user, "-d", name,  "-c", kStatement};
  };
  return s;
}

// Instructions per thread (callgrind, one file a thread), which do not depend on the machine's
// load: the source's client and an export into each format, of the same rows.
std::vector<double> ThreadInstructions(const fs::path& base) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(base.parent_path())) {
    if (entry.path().filename().string().rfind(base.filename().string(), 0) == 0) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<double> counts;
  for (const fs::path& file : files) {
    std::stringstream lines(ReadText(file));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("totals: ", 0) == 0 || line.rfind("summary: ", 0) == 0) {
        counts.push_back(std::atof(line.c_str() + line.find(' ') + 1));
        break;
      }
    }
  }
  return counts;
}

void Instructions(const Source& source, long rows, const fs::path& exporter, const fs::path& dir) {
  source.fill(rows);
  std::printf(
      "%s, %ld rows: instructions (callgrind) per thread, in the order they started: an export's\n"
      "thread 1 turns the values and writes the file, thread 2 watches for a stop, the last one reads the rows\n",
      source.title.c_str(), rows);
  std::fflush(stdout);
  constexpr double kMillion = 1e6;
  for (const char* extension : {"", "xls", "mdb", "xlsx", "csv", "txt"}) {
    const std::string ext = extension;
    const fs::path base = dir / ("callgrind." + (ext.empty() ? std::string("reference") : ext));
    std::vector<std::string> argv = {"valgrind", "--tool=callgrind", "--separate-threads=yes",
                                     "--callgrind-out-file=" + base.string()};
    const fs::path out = dir / ("orders." + ext);
    fs::remove(out);
    if (ext.empty()) {
      for (const std::string& a : source.reference()) argv.push_back(a);
    } else {
      for (const std::string& a : {exporter.string(), std::string("--connect"), source.connect, std::string("--sql"),
                                   std::string(kStatement), std::string("--out"), out.string()}) {
        argv.push_back(a);
      }
    }
    const std::string what = ext.empty() ? source.referenceName : "export to ." + ext;
    if (!RunProcess(argv, dir / "callgrind.out", dir / "stderr.txt").ok) {
      std::printf("  %-22s failed:\n%s\n", what.c_str(), ReadText(dir / "stderr.txt").c_str());
      continue;
    }
    const std::vector<double> counts = ThreadInstructions(base);
    double total = 0;
    for (const double c : counts) total += c;
    std::printf("  %-22s %7.0f M in all;", what.c_str(), total / kMillion);
    for (std::size_t t = 0; t < counts.size(); ++t) std::printf(" thread %zu: %.0f M", t + 1, counts[t] / kMillion);
    // The writing thread per cell, its start-up (connecting, loading the drivers) included.
    if (!ext.empty() && !counts.empty()) std::printf("; thread 1 per cell: %.0f", counts[0] / (rows * kColumns));
    std::printf("\n");
    std::fflush(stdout);
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().filename().string().rfind(base.filename().string(), 0) == 0) fs::remove(entry.path());
    }
  }
}

std::vector<long> RowCounts() {
  std::vector<long> counts = GivenRowCounts();
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
  const char* formatsText = std::getenv("QUILLON_BENCH_FORMATS");
  const char* openpyxlText = std::getenv("QUILLON_BENCH_OPENPYXL_ROWS");
  const long openpyxlRows = openpyxlText != nullptr ? std::atol(openpyxlText) : kDefaultOpenpyxlRows;
  const char* callgrindText = std::getenv("QUILLON_BENCH_CALLGRIND_ROWS");
  const long callgrindRows = callgrindText != nullptr ? std::atol(callgrindText) : kDefaultCallgrindRows;

  // A folder of its own, so that runs side by side (a profiling run among them) do not collide.
  const fs::path dir = fs::temp_directory_path() / ("quillon-bench-export-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::printf("Whole export through %s; each figure the median of its runs\n", exporter.c_str());
  try {
    if (sources.find("sqlite") != std::string::npos) {
      if (OnPath("sqlite3")) {
        Source sqlite = SqliteSource(dir);
        if (formatsText != nullptr) sqlite.formats = formatsText;
        Bench(sqlite, rowCounts, pairs, exporter, dir, openpyxlRows);
        if (callgrindRows <= 0) {
          std::printf("SQLite instructions: not counted (QUILLON_BENCH_CALLGRIND_ROWS=0)\n");
        } else if (OnPath("valgrind")) {
          Instructions(sqlite, callgrindRows, exporter, dir);
        } else {
          std::printf("SQLite instructions: skipped, valgrind is not installed\n");
        }
      } else {
        std::printf("SQLite: skipped, sqlite3 is not installed\n");
      }
    }
    if (sources.find("postgres") != std::string::npos) {
      if (OnPath("psql")) {
        const testing::PostgresServer server;
        Source postgres = PostgresSource(server);
        if (formatsText != nullptr) postgres.formats = formatsText;
        Bench(postgres, rowCounts, pairs, exporter, dir, openpyxlRows);
        if (callgrindRows > 0 && OnPath("valgrind")) Instructions(postgres, callgrindRows, exporter, dir);
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

// Writes 1,000,000 rows of 7 typed columns into a new .mdb through CDatabase::ExecuteSQL, the
// way an export does, and prints rows per second and peak memory. When sqlite3 is installed it
// also times `sqlite3 -csv` over the same data, the yardstick for the whole export.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Measure.h"
#include "drivers/BuiltInDrivers.h"
#include "drivers/access/AccessDriver.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"

namespace {

using namespace quillon;

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Processor time of this process or of its finished children: steadier than the wall clock
// on a shared machine.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::wstring Row(long i) {
  const int day = static_cast<int>(i % 28) + 1;
  return L"INSERT INTO Bench VALUES(" + std::to_wstring(i) + L", 'Customer " + std::to_wstring(i % 10007) + L"', " +
         std::to_wstring(static_cast<double>(i) * 0.37) + L", " + std::to_wstring(i % 2) + L", " +
         std::to_wstring(i % 30000) + L", '2024-03-" + (day < 10 ? L"0" : L"") + std::to_wstring(day) +
         L" 12:30:00', '" + (i % 10 == 0 ? L"A longer note for every tenth row, kept as a Memo value" : L"note") +
         L"')";
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const auto dir = std::filesystem::temp_directory_path() / ("quillon-access-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "bench.mdb";

  drivers::RegisterBuiltInDrivers();
  std::wstring attributes = L"CREATE_DB=\"" + text::Utf8ToWide(file.string()) + L"\"";
  attributes.push_back(L'\0');
  const auto start = std::chrono::steady_clock::now();
  const bench::Written before = bench::WrittenSoFar();
  if (odbc::SQLConfigDataSourceW(nullptr, odbc::ODBC_ADD_DSN, drivers::access::kAccessDriverName, attributes.c_str()) ==
      0) {
    std::fprintf(stderr, "access bench: cannot create %s\n", file.c_str());
    return 1;
  }
  {
    odbc::CDatabase db;
    db.OpenEx(std::wstring(L"DRIVER={") + drivers::access::kAccessDriverName + L"};DBQ=" +
              text::Utf8ToWide(file.string()));
    db.ExecuteSQL(
        L"CREATE TABLE Bench (Id INTEGER, Name VARCHAR(40), Amount DOUBLE, Flag BIT, Qty SMALLINT, "
        L"Day DATE, Note MEMO)");
    for (long i = 0; i < rows; ++i) db.ExecuteSQL(Row(i));
    db.Close();
  }
  const double elapsed = Seconds(start);
  const double cpu = CpuSeconds(RUSAGE_SELF);
  const bench::Written written = bench::WrittenSince(before);
  const double fileMb = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
  std::printf(
      "access: %ld rows x 7 columns in %.2f s (%.2f s processor) = %.0f rows/s, file %.1f MB, peak memory %.1f MB, "
      "written %.1f MB (%.2fx the file; %.1f MB to storage)\n",
      rows, elapsed, cpu, static_cast<double>(rows) / elapsed, fileMb, static_cast<double>(PeakKilobytes()) / 1024.0,
      written.callMb, written.callMb / fileMb, written.storageMb);

  // A small table added to the large file: the unchanged part of the file is copied.
  {
    const auto appendStart = std::chrono::steady_clock::now();
    const double appendCpu = CpuSeconds(RUSAGE_SELF);
    const bench::Written appendBefore = bench::WrittenSoFar();
    odbc::CDatabase db;
    db.OpenEx(std::wstring(L"DRIVER={") + drivers::access::kAccessDriverName + L"};DBQ=" +
              text::Utf8ToWide(file.string()));
    db.ExecuteSQL(L"CREATE TABLE Small (Id INTEGER, Name VARCHAR(40))");
    for (int i = 0; i < 8; ++i) db.ExecuteSQL(L"INSERT INTO Small VALUES(" + std::to_wstring(i) + L", 'row')");
    db.Close();
    const bench::Written appended = bench::WrittenSince(appendBefore);
    std::printf(
        "access: 8 rows added to the %.1f MB file in %.3f s (%.3f s processor), written %.1f MB (%.1f MB to "
        "storage)\n",
        fileMb, Seconds(appendStart), CpuSeconds(RUSAGE_SELF) - appendCpu, appended.callMb, appended.storageMb);
  }

  // What building the statements alone costs, to tell it from the driver's share.
  const double cpuBefore = CpuSeconds(RUSAGE_SELF);
  std::size_t characters = 0;
  for (long i = 0; i < rows; ++i) characters += Row(i).size();
  std::printf("access: building the statements alone took %.2f s processor (%zu characters)\n",
              CpuSeconds(RUSAGE_SELF) - cpuBefore, characters);

  if (std::system("command -v sqlite3 >/dev/null 2>&1") == 0) {
    const auto sqlite = dir / "bench.sqlite";
    const std::string fill =
        "sqlite3 '" + sqlite.string() +
        "' \"CREATE TABLE Bench (Id INTEGER, Name TEXT, Amount REAL, Flag INTEGER, Qty INTEGER, Day TEXT, Note TEXT); "
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
        std::to_string(rows) +
        ") INSERT INTO Bench SELECT i, 'Customer ' || (i % 10007), i * 0.37, i % 2, i % 30000, "
        "printf('2024-03-%02d 12:30:00', i % 28 + 1), CASE WHEN i % 10 = 0 THEN 'A longer note for every tenth row, "
        "kept as a Memo value' ELSE 'note' END FROM n;\"";
    if (std::system(fill.c_str()) == 0) {
      const auto csvStart = std::chrono::steady_clock::now();
      const double childrenBefore = CpuSeconds(RUSAGE_CHILDREN);
      const std::string csv = "sqlite3 -csv '" + sqlite.string() + "' 'SELECT * FROM Bench' > /dev/null";
      if (std::system(csv.c_str()) == 0) {
        const double csvSeconds = Seconds(csvStart);
        const double csvCpu = CpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
        std::printf(
            "access: sqlite3 -csv over the same rows: %.2f s (%.2f s processor); the export took %.1fx "
            "(processor %.1fx)\n",
            csvSeconds, csvCpu, elapsed / csvSeconds, cpu / csvCpu);
      }
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}

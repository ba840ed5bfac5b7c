// Writes 1,000,000 rows x 7 typed columns through the Excel driver's SQL interface, the way an
// export does (a further sheet every 65535 rows, names growing by "_Sheet0"), and prints rows per
// second and peak memory.
//
//   quillon-bench-excel [rows] [output folder] [keep]   (keep: leave the workbook there)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Measure.h"
#include "drivers/BuiltInDrivers.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"

namespace {

constexpr long kDefaultRows = 1000000;
constexpr long kRowsPerSheet = 65535;
constexpr const wchar_t* kCreateTemplate =
    L"CREATE TABLE %s ([ID] INTEGER,[Name] TEXT,[Price] DOUBLE,[Qty] SMALLINT,[Active] BIT,[Created] DATE,"
    L"'Order Note' TEXT);";

std::wstring Create(const std::wstring& table) {
  std::wstring sql = kCreateTemplate;
  sql.replace(sql.find(L"%s"), 2, table);
  return sql;
}

void AppendNumber(std::wstring& out, long value) {
  wchar_t digits[24];
  int n = 0;
  const bool negative = value < 0;
  unsigned long v = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) out.push_back(L'-');
  while (n > 0) out.push_back(digits[--n]);
}

// One row as the statement builder writes it (built by hand: std::to_wstring goes through
// swprintf and would dominate the figures).
void Insert(std::wstring& sql, const std::wstring& table, long i) {
  sql.assign(L"INSERT INTO ").append(table).append(L" VALUES(");
  AppendNumber(sql, i);
  sql.append(L",'Customer ");
  AppendNumber(sql, i % 5000);
  sql.append(L"',");
  AppendNumber(sql, i % 100000);
  sql.push_back(L'.');
  AppendNumber(sql, i % 100);
  sql.push_back(L',');
  AppendNumber(sql, i % 30000);
  sql.append(i % 2 ? L",1,'" : L",0,'");
  AppendNumber(sql, 1 + i % 28);
  sql.push_back(L'.');
  AppendNumber(sql, 1 + i % 12);
  sql.push_back(L'.');
  AppendNumber(sql, 2000 + i % 25);
  sql.push_back(L' ');
  AppendNumber(sql, i % 24);
  sql.push_back(L':');
  AppendNumber(sql, i % 60);
  sql.push_back(L':');
  AppendNumber(sql, i % 59);
  sql.append(L"',");
  if (i % 7 == 0) {
    sql.append(L"NULL");
  } else {
    sql.append(L"'Note for order ");
    AppendNumber(sql, i);
    sql.append(L" with it''s text'");
  }
  sql.append(L");");
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : kDefaultRows;
  const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  const auto file = folder / "quillon-bench.xls";
  std::filesystem::remove(file);
  quillon::drivers::RegisterBuiltInDrivers();
  const std::wstring path = quillon::text::Utf8ToWide(file.string());

  const auto start = std::chrono::steady_clock::now();
  const quillon::bench::Written before = quillon::bench::WrittenSoFar();
  try {
    quillon::odbc::CDatabase db;
    db.OpenEx(L"DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=\"" + path +
                  L"\";DBQ=" + path,
              quillon::odbc::CDatabase::noOdbcDialog);
    std::wstring table = L"Results";
    std::wstring sql;
    db.ExecuteSQL(Create(table));
    for (long i = 0, inSheet = 0; i < rows; ++i, ++inSheet) {
      if (inSheet == kRowsPerSheet) {
        table += L"_Sheet0";
        db.ExecuteSQL(Create(table));
        inSheet = 0;
      }
      Insert(sql, table, i);
      db.ExecuteSQL(sql);
    }
    db.Close();
  } catch (const quillon::odbc::CDBException& e) {
    std::fprintf(stderr, "excel bench failed: %s\n", e.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  const quillon::bench::Written written = quillon::bench::WrittenSince(before);
  const double fileMb = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
  // CPU time too: on a shared machine it varies less than the wall clock.
  std::printf(
      "excel driver: %ld rows x 7 columns in %.2f s (cpu %.2f s): %.0f rows/s, peak memory %.1f MB, "
      "file %.1f MB, written %.1f MB (%.2fx the file; %.1f MB to storage)\n",
      rows, seconds, cpu, static_cast<double>(rows) / seconds, static_cast<double>(usage.ru_maxrss) / 1024.0, fileMb,
      written.callMb * 1e6 / (1024.0 * 1024.0), written.callMb * 1e6 / (1024.0 * 1024.0) / fileMb,
      written.storageMb * 1e6 / (1024.0 * 1024.0));
  if (argc <= 3) std::filesystem::remove(file);
  return 0;
}

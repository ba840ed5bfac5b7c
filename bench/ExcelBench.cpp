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

#include "drivers/BuiltInDrivers.h"
#include "platform/odbc/DBException.h"
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

// One row as the statement builder writes it.
std::wstring Insert(const std::wstring& table, long i) {
  std::wstring sql = L"INSERT INTO " + table + L" VALUES(";
  sql += std::to_wstring(i) + L",'Customer " + std::to_wstring(i % 5000) + L"',";
  sql += std::to_wstring(i % 100000) + L"." + std::to_wstring(i % 100) + L",";
  sql += std::to_wstring(i % 30000) + L"," + (i % 2 ? L"1" : L"0") + L",";
  sql += L"'" + std::to_wstring(1 + i % 28) + L"." + std::to_wstring(1 + i % 12) + L"." + std::to_wstring(2000 + i % 25) +
         L" " + std::to_wstring(i % 24) + L":" + std::to_wstring(i % 60) + L":" + std::to_wstring(i % 59) + L"',";
  sql += i % 7 == 0 ? L"NULL" : L"'Note for order " + std::to_wstring(i) + L" with it''s text'";
  sql += L");";
  return sql;
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
  try {
    quillon::odbc::CDatabase db;
    db.OpenEx(L"DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=\"" + path +
                  L"\";DBQ=" + path,
              quillon::odbc::CDatabase::noOdbcDialog);
    std::wstring table = L"Results";
    db.ExecuteSQL(Create(table));
    for (long i = 0, inSheet = 0; i < rows; ++i, ++inSheet) {
      if (inSheet == kRowsPerSheet) {
        table += L"_Sheet0";
        db.ExecuteSQL(Create(table));
        inSheet = 0;
      }
      db.ExecuteSQL(Insert(table, i));
    }
    db.Close();
  } catch (const quillon::odbc::CDBException& e) {
    std::fprintf(stderr, "excel bench failed: %s\n", e.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("excel driver: %ld rows x 7 columns in %.2f s: %.0f rows/s, peak memory %.1f MB, file %.1f MB\n", rows,
              seconds, static_cast<double>(rows) / seconds, static_cast<double>(usage.ru_maxrss) / 1024.0,
              static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0));
  if (argc <= 3) std::filesystem::remove(file);
  return 0;
}

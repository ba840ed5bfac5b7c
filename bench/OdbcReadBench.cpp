// Reading a large result through the ODBC layer, against the SQLite shell reading the same
// table as CSV: the input side's share of an export.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/Measure.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/text/WideText.h"

namespace {

constexpr long kRows = 1000000;

void MakeOrders(const std::filesystem::path& path) {
  quillon::odbc::CDatabase db;
  db.OpenEx(L"DRIVER=SQLite3;Database=" + path.wstring());
  db.ExecuteSQL(
      L"CREATE TABLE Orders (OrderID INTEGER, Customer VARCHAR(40), OrderDate TIMESTAMP, Quantity SMALLINT, "
      L"Price DOUBLE, Shipped BIT, Note TEXT)");
  db.ExecuteSQL(L"INSERT INTO Orders WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                std::to_wstring(kRows) +
                L") SELECT i, 'Customer ' || (i % 997), datetime('2020-01-01', '+' || (i % 100000) || ' minutes'), "
                L"i % 300, (i % 10000) / 7.0, i % 2, CASE WHEN i % 5 = 0 THEN 'Zoë''s note' END FROM n");
}

}  // namespace

int main() {
  using namespace quillon;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quillon-bench-read";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::filesystem::path db = dir / "orders.db";
  MakeOrders(db);

  {
    bench::Stopwatch watch;
    const std::string command = "sqlite3 -csv " + db.string() + " 'SELECT * FROM Orders' > /dev/null";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "sqlite3 -csv failed\n");
    bench::Report("sqlite3 -csv (reference)", kRows, watch.Seconds());
  }
  {
    bench::Stopwatch watch;
    odbc::CDatabase database;
    database.OpenEx(L"DRIVER=SQLite3;StepAPI=1;Database=" + db.wstring());
    odbc::CRecordset rs(&database);
    rs.Open(odbc::CRecordset::forwardOnly, L"SELECT * FROM Orders", odbc::CRecordset::readOnly);
    long rows = 0;
    odbc::CDBVariant value;
    for (; !rs.IsEOF(); rs.MoveNext(), ++rows) {
      for (std::int16_t c = 0; c < rs.GetODBCFieldCount(); ++c) rs.GetFieldValue(c, value);
    }
    bench::Report("CRecordset read, 7 columns", rows, watch.Seconds());
  }
  std::filesystem::remove_all(dir);
  return 0;
}

// An export whose source is PostgreSQL, through psqlodbc, into both output formats.
#include <gtest/gtest.h>

#include <algorithm>

#include "drivers/BuiltInDrivers.h"
#include "engine/ExportRun.h"
#include "platform/odbc/Database.h"
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

  const std::int32_t excel = FormatExcel;
  const auto xls = dir / "invoices.xls";
  ASSERT_TRUE(ExportQuery(source, host, L"SELECT * FROM public.invoices ORDER BY id", xls.wstring(), &excel));
  EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), L"Output table name: public_invoices"), host.lines.end());
  const auto cells = testing::ReadWorkbook(xls);
  ASSERT_FALSE(cells.empty());
  EXPECT_EQ(cells[0], "sheet\tpublic_invoices\t3\t6");
  for (const char* expected : {"0\t1\t0\tnumber\t1.0", "0\t1\t1\ttext\tÆrøskøbing ApS", "0\t1\t2\ttext\tnet 30 \U0001F4B6",
                               "0\t1\t3\tnumber\t1234.5", "0\t1\t4\tbool\ttrue", "0\t2\t1\ttext\tO'Hara",
                               "0\t2\t3\tnumber\t0.1", "0\t2\t4\tbool\tfalse"}) {
    EXPECT_TRUE(Contains(cells, expected)) << expected;
  }

  const std::int32_t access = FormatAccess;
  const auto mdb = dir / "invoices.mdb";
  ASSERT_TRUE(ExportQuery(source, host, L"SELECT id, customer, amount, paid, issued FROM invoices ORDER BY id",
                          mdb.wstring(), &access));
  EXPECT_EQ(testing::ReadAccessTable(mdb, "invoices"),
            (std::vector<std::string>{"id,customer,amount,paid,issued",
                                      // numeric columns take text columns, their digits as written
                                      "1,\"Ærøskøbing ApS\",\"1234.50\",1,\"2024-02-29 13:14:15\"",
                                      "2,\"O'Hara\",\"0.10\",0,"}));
}

}  // namespace
}  // namespace quillon::engine

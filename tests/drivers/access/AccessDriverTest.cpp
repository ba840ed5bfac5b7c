// Round trips through the Access driver: files it writes are read back by mdbtools and by
// mdb-reader, which are not our code.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "drivers/access/AccessDriver.h"
#include "platform/odbc/DBException.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/drivers/access/ReaderHelpers.h"

namespace quillon::drivers::access::test {
namespace {

using odbc::CDatabase;
using odbc::CDBException;

std::string Json(const std::filesystem::path& file, const std::string& table) {
  return Shell("mdb-json -T '%Y-%m-%d %H:%M:%S' " + Quote(file) + " " + Quote(table)).out;
}

void Execute(CDatabase& db, const std::wstring& sql) { db.ExecuteSQL(sql); }

class AccessDriverTest : public ::testing::Test {
 protected:
  TempDir m_dir;
};

TEST_F(AccessDriverTest, NewDatabaseWithEveryTypeReadsBackInBothReaders) {
  const auto file = m_dir / "every type.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  EXPECT_EQ(Shell("mdb-ver " + Quote(file)).out, "JET4\n");
  {
    CDatabase db;
    db.OpenEx(ConnectString(file));
    Execute(db, L"CREATE TABLE [All Types] ([Name] TEXT, Code VARCHAR(10), Notes MEMO, Amount DOUBLE, Flag BIT, "
                L"Counter INTEGER, Small SMALLINT, Stamp DATE)");
    Execute(db, L"INSERT INTO [All Types] VALUES('Anna', 'A-1', 'short note', 1.5, 1, 2147483647, -32768, "
                L"'2024-02-29 13:45:10')");
    Execute(db, L"INSERT INTO [All Types] VALUES(NULL, NULL, NULL, NULL, 0, NULL, NULL, NULL)");
    Execute(db, L"INSERT INTO [All Types] VALUES('', '', '', -0.0000001, 1, -2147483648, 32767, '1.1.1900')");
    Execute(db, L"INSERT INTO [All Types] VALUES('Grüße “quoted” 😀 日本', 'Ωμέγα', 'it''s 😀', 1e300, 0, 0, 0, "
                L"'12/31/2150 23:59:59')");
    db.Close();
  }
  EXPECT_EQ(Shell("mdb-tables -1 " + Quote(file)).out, "All Types\n");
  EXPECT_EQ(Shell("mdb-count " + Quote(file) + " 'All Types'").out, "4\n");

  const std::string schema = Shell("mdb-schema " + Quote(file) + " access").out;
  for (const char* column : {"[Name]\t\t\tText (255)", "[Code]\t\t\tText (10)", "[Notes]\t\t\tMemo/Hyperlink (255)",
                             "[Amount]\t\t\tDouble", "[Flag]\t\t\tBoolean NOT NULL", "[Counter]\t\t\tLong Integer",
                             "[Small]\t\t\tInteger", "[Stamp]\t\t\tDateTime"}) {
    EXPECT_NE(schema.find(column), std::string::npos) << column << "\n" << schema;
  }

  // mdbtools leaves empty text out of its JSON and shows characters outside the Basic
  // Multilingual Plane as "??" (it converts from UCS-2); mdb-reader below checks both exactly.
  const std::string json = Json(file, "All Types");
  EXPECT_EQ(json,
            "{\"Name\":\"Anna\",\"Code\":\"A-1\",\"Notes\":\"short note\",\"Amount\":1.5,\"Flag\":1,"
            "\"Counter\":2147483647,\"Small\":-32768,\"Stamp\":\"2024-02-29 13:45:10\"}\n"
            "{\"Flag\":0}\n"
            "{\"Amount\":-1e-07,\"Flag\":1,\"Counter\":-2147483648,"
            "\"Small\":32767,\"Stamp\":\"1900-01-01 00:00:00\"}\n"
            "{\"Name\":\"Grüße “quoted” ?? 日本\",\"Code\":\"Ωμέγα\",\"Notes\":\"it's ??\",\"Amount\":1e+300,"
            "\"Flag\":0,\"Counter\":0,\"Small\":0,\"Stamp\":\"2150-12-31 23:59:59\"}\n");

  if (!HaveMdbReader()) GTEST_SKIP() << "mdb-reader is not installed (npm unavailable at configure time)";
  const std::string reader = MdbReader(file, "'All Types'");
  EXPECT_NE(reader.find("\"tables\":{\"All Types\":4}"), std::string::npos) << reader;
  EXPECT_NE(reader.find("\"Name\":\"Grüße “quoted” 😀 日本\""), std::string::npos) << reader;
  EXPECT_NE(reader.find("\"Stamp\":\"2024-02-29T13:45:10.000Z\""), std::string::npos) << reader;
  EXPECT_NE(reader.find("\"Notes\":null"), std::string::npos) << reader;
  EXPECT_NE(reader.find("{\"Name\":\"\",\"Code\":\"\",\"Notes\":\"\",\"Amount\":-1e-7,\"Flag\":true,"
                        "\"Counter\":-2147483648"),
            std::string::npos)
      << reader;
  EXPECT_NE(reader.find("\"Notes\":\"it's 😀\""), std::string::npos) << reader;
  EXPECT_NE(reader.find("\"read\":4"), std::string::npos) << reader;
}

}  // namespace
}  // namespace quillon::drivers::access::test

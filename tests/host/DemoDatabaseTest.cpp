// The demo database is made once, whole, with every column type and enough rows to split sheets.
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "host/DemoDatabase.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "tests/support/TempDir.h"

namespace quillon::host {
namespace {

std::int32_t CountRows(odbc::CDatabase& db, const std::wstring& table) {
  odbc::CRecordset rs(&db);
  rs.Open(odbc::CRecordset::forwardOnly, L"SELECT COUNT(*) FROM " + table, odbc::CRecordset::readOnly);
  odbc::CDBVariant v;
  rs.GetFieldValue(0, v);
  // Computed columns have no declared type: the driver may deliver the count as text.
  if (v.m_dwType == odbc::DBVT_STRING) return std::stoi(*v.m_pstring);
  EXPECT_EQ(v.m_dwType, odbc::DBVT_LONG);
  return v.m_dwType == odbc::DBVT_LONG ? v.m_lVal : -1;
}

class DemoDatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new testing::TempDir;
    s_path = s_dir->Path() / "nested" / "quillon" / "demo.db";
    s_connect = EnsureDemoDatabase(s_path);
  }
  static void TearDownTestSuite() { delete s_dir; }
  void SetUp() override { m_db.OpenEx(s_connect, odbc::CDatabase::noOdbcDialog); }

  static inline testing::TempDir* s_dir = nullptr;
  static inline std::filesystem::path s_path;
  static inline std::wstring s_connect;
  odbc::CDatabase m_db;
};

TEST_F(DemoDatabaseTest, IsCreatedWholeWithNothingLeftBeside) {
  EXPECT_TRUE(std::filesystem::exists(s_path));
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(s_path.parent_path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST_F(DemoDatabaseTest, CoversEveryColumnTypeTheBuildersMap) {
  std::set<std::int16_t> types;
  for (const wchar_t* table : {L"Customers", L"Products", L"Orders", L"OrderLines"}) {
    odbc::CRecordset rs(&m_db);
    rs.Open(odbc::CRecordset::forwardOnly, std::wstring(L"SELECT * FROM ") + table, odbc::CRecordset::readOnly);
    for (std::int16_t c = 0; c < rs.GetODBCFieldCount(); ++c) {
      odbc::CODBCFieldInfo info;
      rs.GetODBCFieldInfo(c, info);
      types.insert(info.m_nSQLType);
    }
  }
  for (std::int16_t code :
       {odbc::SQL_CODE_INTEGER, odbc::SQL_CODE_SMALLINT, odbc::SQL_CODE_TINYINT, odbc::SQL_CODE_VARCHAR,
        odbc::SQL_CODE_LONGVARCHAR, odbc::SQL_CODE_DOUBLE, odbc::SQL_CODE_BIT, odbc::SQL_CODE_DATE,
        odbc::SQL_CODE_TIMESTAMP, odbc::SQL_CODE_BIGINT, odbc::SQL_CODE_BINARY}) {
    EXPECT_TRUE(types.count(code)) << "no column of SQL type " << code;
  }
}

TEST_F(DemoDatabaseTest, HoldsMoreRowsThanOneSheetAndRelatedTables) {
  EXPECT_EQ(CountRows(m_db, L"OrderLines"), kDemoOrderLineCount);
  EXPECT_GT(kDemoOrderLineCount, 65535);
  // Every line belongs to an order and every order to a customer: the view loses none.
  EXPECT_EQ(CountRows(m_db, L"OrderSummary"), CountRows(m_db, L"Orders"));
  EXPECT_EQ(CountRows(m_db, L"OrderLines l JOIN Products p ON p.ProductID = l.ProductID"), kDemoOrderLineCount);
}

TEST_F(DemoDatabaseTest, GeneratedRowsHaveTheirValues) {
  // Columns the generator fills for every row hold no null.
  for (const wchar_t* column : {L"OrderDate", L"ShipDate", L"Priority", L"Freight", L"ShipCity"}) {
    EXPECT_EQ(CountRows(m_db, std::wstring(L"Orders WHERE ") + column + L" IS NULL"), 0) << column;
  }
  EXPECT_EQ(CountRows(m_db, L"Orders WHERE OrderDate >= '2020-01-01' AND OrderDate < ShipDate"),
            CountRows(m_db, L"Orders"));
  EXPECT_EQ(CountRows(m_db, L"OrderLines WHERE UnitPrice IS NULL OR Quantity IS NULL"), 0);
}

TEST_F(DemoDatabaseTest, KeepsApostrophesAccentsAndNonLatinText) {
  odbc::CRecordset rs(&m_db);
  rs.Open(odbc::CRecordset::forwardOnly, L"SELECT CompanyName FROM Customers WHERE CustomerID IN (2, 5) ORDER BY 1",
          odbc::CRecordset::readOnly);
  odbc::CDBVariant v;
  rs.GetFieldValue(0, v);
  EXPECT_EQ(*v.m_pstring, L"O'Neill's Pub & Grill");
  rs.MoveNext();
  rs.GetFieldValue(0, v);
  EXPECT_EQ(*v.m_pstring, L"東京商事株式会社");
}

TEST_F(DemoDatabaseTest, AnExistingDatabaseIsLeftAsItIs) {
  m_db.ExecuteSQL(L"CREATE TABLE IF NOT EXISTS Marker (x INTEGER)");
  m_db.Close();
  EXPECT_EQ(EnsureDemoDatabase(s_path), s_connect);
  m_db.OpenEx(s_connect);
  EXPECT_EQ(CountRows(m_db, L"Marker"), 0);  // the table is still there
}

TEST(DemoDatabase, AFailedCreationLeavesNothingBehind) {
  testing::TempDir dir;
  std::ofstream(dir / "blocker") << "a file where a folder should be";
  EXPECT_ANY_THROW(EnsureDemoDatabase(dir / "blocker" / "demo.db"));
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(DemoDatabase, PathFollowsTheUsersDataFolder) {
  ::setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(DemoDatabasePath(), std::filesystem::path("/srv/data/quillon/demo.db"));
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/ann", 1);
  EXPECT_EQ(DemoDatabasePath(), std::filesystem::path("/home/ann/.local/share/quillon/demo.db"));
}

}  // namespace
}  // namespace quillon::host

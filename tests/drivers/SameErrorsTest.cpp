// The two built-in drivers refuse the same statements with the same message and SQLSTATE: a user
// exporting to a workbook or to a database reads one wording for one mistake.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/OutputDriver.h"
#include "drivers/access/AccessDriver.h"
#include "drivers/excel/ExcelDriver.h"
#include "drivers/xlsx/XlsxDriver.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/ConnectString.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/DriverRegistry.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"

namespace quillon::drivers {
namespace {

using odbc::CDatabase;
using odbc::CDBException;

struct Refusal {
  std::wstring state;
  std::wstring message;
};

Refusal RefusalOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const CDBException& e) {
    return {e.m_strSqlState, e.m_strMessage};
  }
  return {L"(accepted)", {}};
}

class SameErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterBuiltInDrivers();
    char pattern[] = "/tmp/quillon-errors-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_dir = pattern;
    const std::wstring mdb = Wide(m_dir / "out.mdb");
    std::wstring attributes = L"CREATE_DB=\"" + mdb + L"\"";
    attributes.push_back(L'\0');
    ASSERT_EQ(odbc::SQLConfigDataSourceW(nullptr, odbc::ODBC_ADD_DSN, access::kAccessDriverName, attributes.c_str()),
              1);
    m_access.OpenEx(std::wstring(L"ODBC;DRIVER={") + access::kAccessDriverName + L"};DSN='';DBQ=" + mdb);
    const std::wstring xls = Wide(m_dir / "out.xls");
    m_excel.OpenEx(std::wstring(L"DRIVER={") + excel::kExcelDriverName + L"};CREATE_DB=\"" + xls + L"\";DBQ=" + xls,
                   CDatabase::noOdbcDialog);
    m_xlsx.OpenEx(
        std::wstring(L"DRIVER={") + xlsx::kXlsxDriverName + L"};CREATE_DB=\"" + Wide(m_dir / "out.xlsx") + L"\"",
        CDatabase::noOdbcDialog);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }

  static std::wstring Wide(const std::filesystem::path& path) { return text::Utf8ToWide(path.string()); }

  // Runs `sql` on both connections; both must refuse it with one SQLSTATE and, unless the
  // message names a limit of the format, one message, which the .xlsx workbook gives too.
  // Returns the workbook's refusal.
  Refusal BothRefuse(const std::wstring& sql, bool sameMessage = true) {
    const Refusal excel = RefusalOf([&] { m_excel.ExecuteSQL(sql); });
    const Refusal access = RefusalOf([&] { m_access.ExecuteSQL(sql); });
    const std::string shown = text::WideToUtf8(sql.substr(0, 60));
    EXPECT_EQ(text::WideToUtf8(excel.state), text::WideToUtf8(access.state)) << shown;
    if (sameMessage) {
      EXPECT_EQ(text::WideToUtf8(excel.message), text::WideToUtf8(access.message)) << shown;
      const Refusal xlsx = RefusalOf([&] { m_xlsx.ExecuteSQL(sql); });
      EXPECT_EQ(text::WideToUtf8(xlsx.state + L" " + xlsx.message),
                text::WideToUtf8(excel.state + L" " + excel.message))
          << shown;
    }
    return excel;
  }

  void BothExecute(const std::wstring& sql) {
    m_excel.ExecuteSQL(sql);
    m_access.ExecuteSQL(sql);
    m_xlsx.ExecuteSQL(sql);
  }

  std::filesystem::path m_dir;
  CDatabase m_excel;
  CDatabase m_access;
  CDatabase m_xlsx;
};

TEST_F(SameErrorsTest, StatementsRefusedAlikeByBothDrivers) {
  BothExecute(L"CREATE TABLE Items (Name TEXT, Price DOUBLE)");
  BothExecute(L"INSERT INTO Items VALUES('pen', 1.5)");

  Refusal refused = BothRefuse(L"CREATE TABLE Twice (Code TEXT, code DOUBLE)");
  EXPECT_EQ(refused.state, L"42S21");
  EXPECT_NE(refused.message.find(L"'code'"), std::wstring::npos);

  refused = BothRefuse(L"INSERT INTO Nowhere VALUES(1)");
  EXPECT_EQ(refused.state, L"42S02");
  EXPECT_NE(refused.message.find(L"'Nowhere'"), std::wstring::npos);

  refused = BothRefuse(L"INSERT INTO Items VALUES('pen')");
  EXPECT_EQ(refused.state, L"21S01");
  BothRefuse(L"INSERT INTO Items VALUES('pen', 1, 2)");

  refused = BothRefuse(L"CREATE TABLE items (A TEXT)");
  EXPECT_EQ(refused.state, L"42S01");

  std::wstring columns;
  for (int i = 0; i < 300; ++i) columns += (i ? L", C" : L"C") + std::to_wstring(i) + L" INTEGER";
  // A sheet holds 256 columns, a table 255: the limit in the message differs, the rest not.
  refused = BothRefuse(L"CREATE TABLE Wide (" + columns + L")", false);
  EXPECT_EQ(refused.state, L"54011");
  const Refusal fromAccess = RefusalOf([&] { m_access.ExecuteSQL(L"CREATE TABLE Wide (" + columns + L")"); });
  EXPECT_EQ(refused.message.substr(0, 24), fromAccess.message.substr(0, 24));
}

TEST_F(SameErrorsTest, ConnectStringsWithoutAFileRefusedAlike) {
  CDatabase excel, access;
  const Refusal fromExcel = RefusalOf([&] {
    excel.OpenEx(std::wstring(L"DRIVER={") + excel::kExcelDriverName + L"};DSN=''", CDatabase::noOdbcDialog);
  });
  const Refusal fromAccess = RefusalOf([&] {
    access.OpenEx(std::wstring(L"DRIVER={") + access::kAccessDriverName + L"};DSN=''", CDatabase::noOdbcDialog);
  });
  EXPECT_EQ(fromExcel.state, fromAccess.state);
  EXPECT_EQ(fromExcel.message, fromAccess.message);
  EXPECT_NE(fromExcel.state, L"(accepted)");

  const std::wstring missing = Wide(m_dir / "missing");
  const Refusal noWorkbook = RefusalOf([&] {
    excel.OpenEx(std::wstring(L"DRIVER={") + excel::kExcelDriverName + L"};DBQ=" + missing, CDatabase::noOdbcDialog);
  });
  const Refusal noDatabase = RefusalOf([&] {
    access.OpenEx(std::wstring(L"DRIVER={") + access::kAccessDriverName + L"};DBQ=" + missing, CDatabase::noOdbcDialog);
  });
  EXPECT_EQ(noWorkbook.state, noDatabase.state);
  EXPECT_EQ(noWorkbook.message, noDatabase.message);
  EXPECT_NE(noWorkbook.message.find(missing), std::wstring::npos);
}

// A statement after Close: the framework's connection and a driver's own read the same (08003).
TEST_F(SameErrorsTest, AClosedConnectionRefusedAlike) {
  const std::wstring xls = Wide(m_dir / "closed.xls");
  auto driver = excel::MakeExcelDriver()->Connect(odbc::ConnectString::Parse(L"CREATE_DB=\"" + xls + L"\";DBQ=" + xls));
  driver->Close();
  m_excel.Close();
  const Refusal fromDriver = RefusalOf([&] { driver->ExecuteSQL(L"CREATE TABLE T (A INTEGER)"); });
  const Refusal fromFramework = RefusalOf([&] { m_excel.ExecuteSQL(L"CREATE TABLE T (A INTEGER)"); });
  EXPECT_EQ(fromDriver.state, L"08003");
  EXPECT_EQ(fromFramework.state, fromDriver.state);
  EXPECT_EQ(fromFramework.message, fromDriver.message);
}

// One guard for both drivers: a closed connection refuses before reading the statement, a
// read-only one after it, each with the vocabulary's error naming the file.
TEST_F(SameErrorsTest, ClosedAndReadOnlyConnectionsRefusedAlike) {
  m_excel.Close();
  m_access.Close();
  const std::vector<odbc::Literal> row{{odbc::Literal::Kind::Number, L"1"}};
  struct Case {
    bool closed;
    std::wstring sql;  // empty: the row without text
    CDBException (*expected)(const std::wstring& path);
  };
  const Case cases[] = {
      {true, L"CREATE TABLE T (A INTEGER)", [](const std::wstring&) { return odbc::errors::ConnectionClosed(); }},
      {true, L"not a statement", [](const std::wstring&) { return odbc::errors::ConnectionClosed(); }},
      {true, L"", [](const std::wstring&) { return odbc::errors::ConnectionClosed(); }},
      {false, L"CREATE TABLE T (A INTEGER)", [](const std::wstring& path) { return odbc::errors::FileReadOnly(path); }},
      {false, L"", [](const std::wstring& path) { return odbc::errors::FileReadOnly(path); }},
      {false, L"not a statement", [](const std::wstring&) { return CDBException(L"", odbc::errors::state::kSyntax); }},
  };
  const std::wstring xls = Wide(m_dir / "out.xls"), mdb = Wide(m_dir / "out.mdb"), xlsx = Wide(m_dir / "new.xlsx");
  const std::pair<const wchar_t*, std::wstring> drivers[] = {
      {excel::kExcelDriverName, L"CREATE_DB=\"" + xls + L"\";DBQ=" + xls},
      {access::kAccessDriverName, L"DBQ=" + mdb},
      {xlsx::kXlsxDriverName, L"CREATE_DB=" + xlsx}};
  for (const auto& [name, target] : drivers) {
    for (const Case& c : cases) {
      const std::wstring path = target.substr(target.rfind(L'=') + 1);
      auto connection = odbc::DriverRegistry::Instance().Find(name)->Connect(
          odbc::ConnectString::Parse((c.closed ? L"" : L"READONLY=1;") + target));
      if (c.closed) connection->Close();
      const Refusal refused = RefusalOf([&] {
        if (c.sql.empty()) {
          connection->InsertRow(L"T", row);
        } else {
          connection->ExecuteSQL(c.sql);
        }
      });
      const CDBException expected = c.expected(path);
      const std::string shown = text::WideToUtf8(std::wstring(name) + L": " + c.sql);
      EXPECT_EQ(text::WideToUtf8(refused.state), text::WideToUtf8(expected.m_strSqlState)) << shown;
      if (!expected.m_strMessage.empty()) {
        EXPECT_EQ(refused.message, expected.m_strMessage) << shown;
      }
    }
  }
}

// A format whose file cannot be written from the second row on: the skeleton's failed state.
class FailingFormat : public OutputConnection {
 public:
  explicit FailingFormat(const OutputTarget& target) : OutputConnection(target) {}
  int m_rows = 0;
  int m_checkpoints = 0;
  bool m_written = false;

 protected:
  std::wstring CreateTable(const sql::CreateTable& statement) override { return statement.table; }
  void Insert(const std::wstring&, const std::vector<sql::Literal>&) override {
    if (++m_rows > 1) throw odbc::errors::IoError(L"write", "/tmp/f", ENOSPC);
  }
  void WriteOut() override { m_written = true; }
  void WriteCheckpoint() override { ++m_checkpoints; }
  std::vector<ListedTable> ListTables() override { return {}; }
};

// A checkpoint writes only what changed since the last. After a failed write every statement
// and checkpoint is refused (before it is read), and Close leaves the file as it was without
// writing anything.
TEST(OutputConnection, AFailedWriteRefusesEverythingAfterAndIsNeverWrittenOut) {
  OutputTarget target;
  target.path = L"/tmp/f";
  FailingFormat format(target);
  format.ExecuteSQL(L"INSERT INTO T VALUES(1)");
  format.Checkpoint();
  format.Checkpoint();
  EXPECT_EQ(format.m_checkpoints, 1);
  EXPECT_EQ(RefusalOf([&] { format.ExecuteSQL(L"INSERT INTO T VALUES(2)"); }).state, odbc::errors::state::kIoError);
  EXPECT_EQ(RefusalOf([&] { format.Checkpoint(); }).message, odbc::errors::NoMoreChanges(L"/tmp/f").m_strMessage);
  for (const std::wstring sql : {L"INSERT INTO T VALUES(3)", L"not a statement"}) {
    EXPECT_EQ(RefusalOf([&] { format.ExecuteSQL(sql); }).message, odbc::errors::NoMoreChanges(L"/tmp/f").m_strMessage);
  }
  EXPECT_EQ(RefusalOf([&] { format.Close(); }).message, odbc::errors::LeftAsItWas(L"/tmp/f").m_strMessage);
  EXPECT_EQ(format.m_rows, 2);
  EXPECT_FALSE(format.m_written);
}

}  // namespace
}  // namespace quillon::drivers

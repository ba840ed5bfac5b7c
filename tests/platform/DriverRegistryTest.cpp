// Connect strings that name a built-in driver reach it in-process; the installer's request too.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/DriverRegistry.h"
#include "platform/odbc/Installer.h"
#include "platform/odbc/Recordset.h"
#include "platform/ui/Prompts.h"

namespace quillon::odbc {
namespace {

struct Journal {
  std::vector<std::wstring> events;
};

class JournalConnection final : public IDriverConnection {
 public:
  explicit JournalConnection(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}
  ~JournalConnection() override { m_journal->events.push_back(L"destroyed"); }
  void ExecuteSQL(std::wstring_view statement) override {
    if (statement == L"FAIL") throw CDBException(L"refused", L"42000");
    m_journal->events.push_back(L"exec:" + std::wstring(statement));
  }
  void Close() override { m_journal->events.push_back(L"close"); }

 private:
  std::shared_ptr<Journal> m_journal;
};

class JournalDriver final : public IBuiltInDriver {
 public:
  explicit JournalDriver(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}
  std::wstring Name() const override { return L"Quillon Journal Driver (*.jnl)"; }
  std::unique_ptr<IDriverConnection> Connect(const ConnectString& connect) override {
    m_journal->events.push_back(L"connect:" + connect.Get(L"DBQ").value_or(L"?"));
    return std::make_unique<JournalConnection>(m_journal);
  }
  bool ConfigDataSource(unsigned short request, const std::vector<std::wstring>& attributes) override {
    for (const auto& a : attributes) m_journal->events.push_back(L"config" + std::to_wstring(request) + L":" + a);
    return request == ODBC_ADD_DSN;
  }

 private:
  std::shared_ptr<Journal> m_journal;
};

class DriverRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { DriverRegistry::Instance().Register(std::make_shared<JournalDriver>(m_journal)); }
  std::shared_ptr<Journal> m_journal = std::make_shared<Journal>();
};

TEST_F(DriverRegistryTest, ConnectStringReachesTheBuiltInDriverByNameInAnyCase) {
  {
    CDatabase db;
    db.Open(nullptr, false, false, L"ODBC;DRIVER={quillon journal driver (*.JNL)};DSN='';DBQ=/tmp/a;b.jnl");
    ASSERT_TRUE(db.IsOpen());
    EXPECT_EQ(db.GetConnect(), L"ODBC;DRIVER={quillon journal driver (*.JNL)};DSN='';DBQ=/tmp/a;b.jnl");
    db.ExecuteSQL(L"CREATE TABLE t ([a] TEXT);");
    EXPECT_THROW(db.ExecuteSQL(L"FAIL"), CDBException);
    db.Close();
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.GetConnect(), L"");
  }
  const std::vector<std::wstring> expected = {L"connect:/tmp/a;b.jnl", L"exec:CREATE TABLE t ([a] TEXT);", L"close",
                                              L"destroyed"};
  EXPECT_EQ(m_journal->events, expected);
}

TEST_F(DriverRegistryTest, DestroyingAnOpenConnectionReleasesItWithoutClose) {
  {
    CDatabase db;
    db.OpenEx(L"DRIVER={Quillon Journal Driver (*.jnl)};DBQ=/x");
  }
  const std::vector<std::wstring> expected = {L"connect:/x", L"close", L"destroyed"};
  EXPECT_EQ(m_journal->events, expected);
}

TEST_F(DriverRegistryTest, BuiltInConnectionsYieldNoRecordsets) {
  CDatabase db;
  db.OpenEx(L"DRIVER={Quillon Journal Driver (*.jnl)};DBQ=/x");
  CRecordset rs(&db);
  EXPECT_THROW(rs.Open(CRecordset::forwardOnly, L"SELECT 1", CRecordset::readOnly), CDBException);
}

TEST_F(DriverRegistryTest, InstallerRequestReachesTheDriverWithEveryAttributeEntry) {
  const wchar_t attributes[] = L"CREATE_DB=\"/tmp/n.jnl\";\0SECOND=1\0";
  EXPECT_EQ(SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, L"Quillon Journal Driver (*.jnl)", attributes), 1);
  EXPECT_EQ(SQLConfigDataSourceW(nullptr, 2, L"Quillon Journal Driver (*.jnl)", attributes), 0);
  EXPECT_EQ(SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, L"No Such Driver", attributes), 0);
  const std::vector<std::wstring> expected = {L"config1:CREATE_DB=\"/tmp/n.jnl\";", L"config1:SECOND=1",
                                              L"config2:CREATE_DB=\"/tmp/n.jnl\";", L"config2:SECOND=1"};
  EXPECT_EQ(m_journal->events, expected);
}

class ScriptedPrompts final : public ui::IPrompts {
 public:
  int MessageBox(const std::wstring& text, unsigned type) override {
    m_text = text;
    m_type = type;
    return ui::IDCANCEL;
  }
  std::optional<std::wstring> FileDialog(const ui::FileDialogRequest&) override { return std::nullopt; }
  std::wstring m_text;
  unsigned m_type = 99;
};

TEST(DBException, ReportErrorAsksThroughTheInstalledPromptsAndReturnsTheAnswer) {
  ScriptedPrompts prompts;
  ui::ScopedPrompts scope(prompts);
  const CDBException e(L"Table 'X' already exists.", L"42S01", 7);
  EXPECT_EQ(e.m_strError, L"Table 'X' already exists. (SQLSTATE 42S01)");
  EXPECT_EQ(e.m_strStateNativeOrigin, L"State:42S01,Native:7");
  EXPECT_EQ(e.ReportError(ui::MB_OKCANCEL, 0), ui::IDCANCEL);
  EXPECT_EQ(prompts.m_text, e.m_strError);
  EXPECT_EQ(prompts.m_type, ui::MB_OKCANCEL);
}

}  // namespace
}  // namespace quillon::odbc

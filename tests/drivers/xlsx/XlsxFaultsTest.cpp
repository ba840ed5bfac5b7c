// Hostile and unlucky cases of the .xlsx driver: a file that is not a workbook, and writes that
// fail part way (the file size limit standing in for a full disk).
#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "platform/errors/Errors.h"
#include "tests/drivers/xlsx/XlsxTestSupport.h"

namespace quillon::drivers::xlsx {
namespace {

using odbc::CDatabase;
using odbc::CDBException;

std::size_t Entries(const std::filesystem::path& folder) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

class XlsxFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterBuiltInDrivers(); }
  testing::TempDir m_dir;
};

TEST_F(XlsxFaultsTest, AFileThatIsNoWorkbookIsRefusedUntouched) {
  const auto file = m_dir / "notes.xlsx";
  const std::string bytes = "PK\x03\x04 but not a zip at all\n";
  {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
  }
  CDatabase db;
  try {
    db.OpenEx(testing::NewXlsxConnect(file), CDatabase::noOdbcDialog);
    FAIL() << "connected";
  } catch (const CDBException& e) {
    EXPECT_NE(e.m_strMessage.find(text::Utf8ToWide(file.string())), std::wstring::npos)
        << text::WideToUtf8(e.m_strMessage);
  }
  EXPECT_EQ(testing::ReadBytes(file), bytes);
  EXPECT_EQ(Entries(m_dir.Path()), 1u);
}

// Rows of text that deflate hardly at all, about `bytes` of them in each of two tables.
void WriteIncompressibleRows(CDatabase& db, std::size_t bytes) {
  std::uint32_t seed = 12345;
  for (const wchar_t* table : {L"A", L"B"}) {
    db.ExecuteSQL(std::wstring(L"CREATE TABLE ") + table + L" ([S] TEXT)");
    for (std::size_t written = 0; written < bytes; written += 200) {
      std::wstring value;
      for (int i = 0; i < 200; ++i) {
        seed = seed * 1103515245u + 12345u;
        value += static_cast<wchar_t>(L'!' + (seed >> 16) % 90);
      }
      for (auto& c : value) c = c == L'\'' ? L'x' : c;
      db.ExecuteSQL(std::wstring(L"INSERT INTO ") + table + L" VALUES('" + value + L"')");
    }
  }
}

// A write that fails, while rows arrive or while the package is put together, ends the run with
// an error of the file (58030) and leaves no file and no temporary file behind.
TEST_F(XlsxFaultsTest, AWriteThatFailsLeavesNoFile) {
  constexpr rlim_t kFileLimit = 256 << 10;
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const rlimit small{kFileLimit, old.rlim_max};
  // Two tables that each fit the limit but not together, and two that do not fit at all.
  for (const std::size_t bytes : {kFileLimit * 2 / 3, kFileLimit * 2}) {
    const auto file = m_dir / ("failed" + std::to_string(bytes) + ".xlsx");
    std::wstring error;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    try {
      CDatabase db;
      db.OpenEx(testing::NewXlsxConnect(file), CDatabase::noOdbcDialog);
      WriteIncompressibleRows(db, bytes);
      db.Close();
    } catch (const CDBException& e) {
      error = e.m_strSqlState;
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(error, L"58030") << bytes;
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(Entries(m_dir.Path()), 0u);
  }
  std::signal(SIGXFSZ, SIG_DFL);
}

}  // namespace
}  // namespace quillon::drivers::xlsx

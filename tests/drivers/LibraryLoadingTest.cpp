// The libraries that read existing files (libgsf for .xls, libxml2 for .xlsx) are loaded only
// when an existing file is added to: writing new files leaves them, and all they stand on, out
// of the process. A library that cannot be loaded is named in the error.
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/excel/ExcelDriver.h"
#include "drivers/xlsx/XlsxDriver.h"
#include "platform/errors/Errors.h"
#include "platform/loader/SharedLibrary.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers {
namespace {

using odbc::CDatabase;
using odbc::CDBException;

bool Mapped(const std::string& library) {
  std::ifstream maps("/proc/self/maps");
  const std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
  return text.find(library) != std::string::npos;
}

// The SQLSTATE and message of the error `action` throws.
template <typename Action>
std::wstring Refusal(const Action& action) {
  try {
    action();
  } catch (const CDBException& e) {
    return e.m_strSqlState + L" " + e.m_strMessage;
  }
  return L"(accepted)";
}

TEST(LibraryLoadingTest, ReadersAreLoadedOnlyForExistingFiles) {
  RegisterBuiltInDrivers();
  testing::TempDir dir;
  const struct {
    const wchar_t* driver;
    std::string file;
    std::string library;
  } kCases[] = {{excel::kExcelDriverName, "out.xls", "libgsf-1.so"}, {xlsx::kXlsxDriverName, "out.xlsx", "libxml2.so"}};
  const auto connect = [&](const auto& c, const wchar_t* key) {
    return L"DRIVER={" + std::wstring(c.driver) + L"};" + key + L"=" + text::Utf8ToWide((dir / c.file).string());
  };
  for (const auto& c : kCases) {
    CDatabase db;
    db.OpenEx(connect(c, L"CREATE_DB"), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE Made ([N] INTEGER)");
    db.ExecuteSQL(L"INSERT INTO Made VALUES(1)");
    db.Close();
  }
  for (const auto& c : kCases) EXPECT_FALSE(Mapped(c.library)) << c.file;
  for (const auto& c : kCases) {
    CDatabase db;
    db.OpenEx(connect(c, L"DBQ"), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE Added ([N] INTEGER)");
    db.Close();
    EXPECT_TRUE(Mapped(c.library)) << c.file;
    // Both sheets are in the file read again.
    db.OpenEx(connect(c, L"DBQ"), CDatabase::noOdbcDialog);
    for (const std::wstring table : {L"Made", L"Added"}) {
      EXPECT_EQ(Refusal([&] { db.ExecuteSQL(L"CREATE TABLE " + table + L" ([N] INTEGER)"); }).rfind(L"42S01", 0), 0u)
          << c.file;
    }
  }
}

TEST(LibraryLoadingTest, AMissingLibraryOrFunctionIsNamed) {
  EXPECT_NE(Refusal([] { loader::SharedLibrary("libquillon-absent.so.0"); }).find(L"libquillon-absent.so.0"),
            std::wstring::npos);
  EXPECT_NE(Refusal([] { loader::SharedLibrary("libc.so.6").Symbol("quillon_absent"); }).find(L"quillon_absent"),
            std::wstring::npos);
}

}  // namespace
}  // namespace quillon::drivers

// What the .xlsx driver's tests share: connect strings, the refusal of a statement, and
// openpyxl's reading of a workbook (xlsx_dump.py; the test target defines QUILLON_PYTHON and
// QUILLON_XLSX_DUMP).
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::testing {

inline std::wstring NewXlsxConnect(const std::filesystem::path& file) {
  return L"DRIVER={Quillon Excel Workbook Driver (*.xlsx)};CREATE_DB=\"" + text::Utf8ToWide(file.string()) + L"\"";
}

// The SQLSTATE of the refusal; empty when the statement went through.
inline std::wstring Refusal(odbc::CDatabase& db, const std::wstring& sql, std::wstring* message = nullptr) {
  try {
    db.ExecuteSQL(sql);
  } catch (const odbc::CDBException& e) {
    if (message != nullptr) *message = e.m_strMessage;
    return e.m_strSqlState;
  }
  return {};
}

inline bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline bool HaveOpenpyxl() {
  return RunCommand(std::string(QUILLON_PYTHON) + " -c 'import openpyxl' 2>&1").status == 0;
}

// openpyxl's reading of a workbook, as xlsx_dump.py prints it; empty when it fails (its error
// then goes to `error`).
inline std::vector<std::string> ReadXlsx(const std::filesystem::path& file, std::string* error = nullptr) {
  const auto result = RunCommand(std::string(QUILLON_PYTHON) + " " + ShellQuote(QUILLON_XLSX_DUMP) + " " +
                                 ShellQuote(file.string()) + " 2>&1");
  if (result.status != 0) {
    if (error != nullptr) *error = result.output;
    return {};
  }
  return result.Lines();
}

// A workbook of two sheets for the other readers, and its first sheet as CSV.
inline void WriteSampleWorkbook(const std::filesystem::path& file) {
  odbc::CDatabase db;
  db.OpenEx(NewXlsxConnect(file), odbc::CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE First ([I] INTEGER,[S] TEXT,[D] DATE,[T] TIMESTAMP,[H] TIME,[X] DOUBLE,[B] BIT)");
  db.ExecuteSQL(
      L"INSERT INTO First VALUES(1,'\u00e9t\u00e9 \U0001F600 a&b<c','2024-03-05','2024-03-05 07:08:09','07:08:09',"
      L"0.1,1)");
  db.ExecuteSQL(L"INSERT INTO First VALUES(7,'two',NULL,NULL,NULL,7.25,0)");
  db.ExecuteSQL(L"CREATE TABLE Second ([S] TEXT)");
  db.ExecuteSQL(L"INSERT INTO Second VALUES('x')");
  db.Close();
}
inline constexpr const char* kSampleFirstCsv =
    "I,S,D,T,H,X,B\n1,\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80 a&b<c,2024-03-05,2024-03-05 07:08:09,07:08:09,0.1,TRUE\n"
    "7,two,,,,7.25,FALSE\n";

}  // namespace quillon::testing

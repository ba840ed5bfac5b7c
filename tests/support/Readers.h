// Reading written files back through readers that are not our code (xlrd, openpyxl, pandas,
// mdbtools). The test target defines QUILLON_PYTHON (an interpreter with xlrd) and QUILLON_XLS_DUMP
// (tests/drivers/excel/xls_dump.py), and QUILLON_XLSX_DUMP (tests/drivers/xlsx/xlsx_dump.py) when
// it reads .xlsx workbooks.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::testing {

// xlrd's reading of a workbook: "sheet<TAB>name<TAB>rows<TAB>cols" per sheet and
// "s<TAB>r<TAB>c<TAB>kind<TAB>value" per non-empty cell; empty when xlrd fails (its error then
// goes to `error`).
inline std::vector<std::string> DumpXls(const std::filesystem::path& file, std::string* error = nullptr) {
  const auto result = RunCommand(std::string(QUILLON_PYTHON) + " " + ShellQuote(QUILLON_XLS_DUMP) + " " +
                                 ShellQuote(file.string()) + " 2>&1");
  if (result.status != 0) {
    if (error != nullptr) *error = result.output;
    return {};
  }
  return result.Lines();
}

#ifdef QUILLON_XLSX_DUMP
// openpyxl's reading of an .xlsx workbook, one line per sheet and per non-empty cell as
// tests/drivers/xlsx/xlsx_dump.py prints it, once pandas has read every cell alike; empty when
// either fails or they differ (the reason then goes to `error`).
inline std::vector<std::string> DumpXlsx(const std::filesystem::path& file, std::string* error = nullptr) {
  const auto result = RunCommand(std::string(QUILLON_PYTHON) + " " + ShellQuote(QUILLON_XLSX_DUMP) + " --pandas " +
                                 ShellQuote(file.string()) + " 2>&1");
  if (result.status != 0) {
    if (error != nullptr) *error = result.output;
    return {};
  }
  return result.Lines();
}
#endif

// Sheet names with their row counts (header included), as xlrd sees them.
inline std::vector<std::pair<std::string, int>> SheetSizes(const std::filesystem::path& file) {
  std::vector<std::pair<std::string, int>> sheets;
  for (const auto& line : OutputLines(std::string(QUILLON_PYTHON) +
                                      " -c 'import sys, xlrd\nfor s in xlrd.open_workbook(sys.argv[1]).sheets(): "
                                      "print(s.name, s.nrows)' " +
                                      ShellQuote(file.string()))) {
    const auto space = line.rfind(' ');
    sheets.emplace_back(line.substr(0, space), std::stoi(line.substr(space + 1)));
  }
  return sheets;
}

// mdbtools' export of one table of an Access database: a header line, then one CSV line per row.
inline std::vector<std::string> ReadAccessTable(const std::filesystem::path& file, const std::string& table) {
  return OutputLines("mdb-export -T '%Y-%m-%d %H:%M:%S' " + ShellQuote(file.string()) + " " + ShellQuote(table));
}

// mdbtools' CREATE TABLE statements for an Access database.
inline std::vector<std::string> ReadAccessSchema(const std::filesystem::path& file) {
  return OutputLines("mdb-schema " + ShellQuote(file.string()));
}

}  // namespace quillon::testing

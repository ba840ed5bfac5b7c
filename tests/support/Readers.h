// Reading written files back through readers that are not our code. The test target defines
// QUILLON_PYTHON (an interpreter with xlrd) and QUILLON_XLS_DUMP (tests/drivers/excel/xls_dump.py).
#pragma once

#include <filesystem>
#include <string>
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

}  // namespace quillon::testing

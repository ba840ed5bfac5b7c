// Reading exported files back through readers that are not our code: xlrd for workbooks
// (DumpXls), mdbtools for Access databases.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/Readers.h"

namespace quillon::engine::testing {

using quillon::testing::DumpXls;
using quillon::testing::ShellQuote;

// The command's standard output as lines; `status` gets its exit status.
inline std::vector<std::string> OutputLines(const std::string& command, int* status = nullptr) {
  const auto result = quillon::testing::RunCommand(command);
  if (status != nullptr) *status = result.status;
  return result.Lines();
}

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

// mdbtools' export of one table: a header line, then one CSV line per row.
inline std::vector<std::string> ReadAccessTable(const std::filesystem::path& file, const std::string& table) {
  return OutputLines("mdb-export -T '%Y-%m-%d %H:%M:%S' " + ShellQuote(file.string()) + " " + ShellQuote(table));
}

inline std::vector<std::string> ReadAccessSchema(const std::filesystem::path& file) {
  return OutputLines("mdb-schema " + ShellQuote(file.string()));
}

}  // namespace quillon::engine::testing

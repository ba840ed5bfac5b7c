// Helpers for the Excel driver's tests: a scratch folder, running a command, and reading a
// workbook back through xlrd (xls_dump.py).
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::excel::testing {

using ScratchDir = quillon::testing::TempDir;
using quillon::testing::CommandResult;

// Runs a shell command, standard output captured (standard error too when `withErrors`).
inline CommandResult Run(const std::string& command, bool withErrors = false) {
  return quillon::testing::RunCommand(withErrors ? command + " 2>&1" : command);
}

inline std::string Quote(const std::string& text) { return quillon::testing::ShellQuote(text); }

// xlrd's reading of the workbook, one line per sheet and per non-empty cell; empty when xlrd
// fails (its error then goes to `error`).
inline std::vector<std::string> DumpXls(const std::filesystem::path& file, std::string* error = nullptr) {
  const auto result = Run(std::string(QUILLON_PYTHON) + " " + Quote(QUILLON_XLS_DUMP) + " " + Quote(file.string()), true);
  std::vector<std::string> lines;
  if (result.status != 0) {
    if (error != nullptr) *error = result.output;
    return lines;
  }
  std::istringstream in(result.output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quillon::drivers::excel::testing

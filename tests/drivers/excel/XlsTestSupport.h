// Helpers for the Excel driver's tests: a scratch folder, running a command, and reading a
// workbook back through xlrd (tests/support/Readers.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/Readers.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::excel::testing {

using ScratchDir = quillon::testing::TempDir;
using quillon::testing::CommandResult;

// Runs a shell command, standard output captured (standard error too when `withErrors`).
inline CommandResult Run(const std::string& command, bool withErrors = false) {
  return quillon::testing::RunCommand(withErrors ? command + " 2>&1" : command);
}

inline std::string Quote(const std::string& text) { return quillon::testing::ShellQuote(text); }

using quillon::testing::DumpXls;
using quillon::testing::ReadBytes;

}  // namespace quillon::drivers::excel::testing

// Helpers for the Access driver's tests: temporary folders, running the independent readers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {

using TempDir = quillon::testing::TempDir;
using quillon::testing::CommandResult;

// Runs a shell command and collects its standard output.
inline CommandResult Shell(const std::string& command) { return quillon::testing::RunCommand(command); }
inline std::string Quote(const std::filesystem::path& path) { return quillon::testing::ShellQuote(path.string()); }

// Creates an empty database through the installer entry point; its return value.
int CreateDatabase(const std::filesystem::path& path);
// The connect string the export uses, DBQ last.
std::wstring ConnectString(const std::filesystem::path& path);

// True when node and the installed mdb-reader are there.
bool HaveMdbReader();
// mdb-reader's view: JSON with "tables" (name -> row count) and "rows" of the named tables.
std::string MdbReader(const std::filesystem::path& file, const std::string& tables = "");

// Writable copies in `dir` of the Access-written sample databases in tests/data/jet4.
std::vector<std::filesystem::path> CopyAccessSamples(const TempDir& dir);

// The bytes of a file.
std::string FileBytes(const std::filesystem::path& path);

}  // namespace quillon::drivers::access::test

// Helpers for the Access driver's tests: databases to start from, and mdb-reader's view of a file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {

// Creates an empty database through the installer entry point; its return value.
int CreateDatabase(const std::filesystem::path& path);
// The connect string the export uses, DBQ last.
std::wstring ConnectString(const std::filesystem::path& path);

// True when node and the installed mdb-reader are there.
bool HaveMdbReader();
// mdb-reader's view: JSON with "tables" (name -> row count) and "rows" of the named tables.
std::string MdbReader(const std::filesystem::path& file, const std::string& tables = "");

// Writable copies in `dir` of the Access-written sample databases in tests/data/jet4.
std::vector<std::filesystem::path> CopyAccessSamples(const quillon::testing::TempDir& dir);

}  // namespace quillon::drivers::access::test

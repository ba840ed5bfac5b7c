// The embedded demo database: a SQLite file under the user's data folder, made on first use, that
// the host opens when it is not pointed at another database.
#pragma once

#include <filesystem>
#include <string>

namespace quillon::host {

// $XDG_DATA_HOME/quillon/demo.db, or ~/.local/share/quillon/demo.db when XDG_DATA_HOME is unset.
std::filesystem::path DemoDatabasePath();

// Creates the database at `path` when nothing is there yet (and the folders above it), and
// returns the connect string that opens it through the SQLite ODBC driver. A database is only
// ever put in place whole: it is built beside its final name and renamed. Throws CDBException
// or std::filesystem::filesystem_error.
std::wstring EnsureDemoDatabase(const std::filesystem::path& path);

// The connect string of the SQLite database at `path`.
std::wstring SqliteConnectString(const std::filesystem::path& path);

// Rows in the demo's largest table: more than one Excel sheet holds.
inline constexpr int kDemoOrderLineCount = 72000;

}  // namespace quillon::host

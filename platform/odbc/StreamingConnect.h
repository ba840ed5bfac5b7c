// Connect strings for reading large results. Some ODBC drivers read a statement's whole result
// into memory before they hand out its first row unless their connect string tells them
// otherwise: the SQLite3 driver (StepAPI=1 makes it step through the rows as they are fetched)
// and psqlodbc, the PostgreSQL driver (UseDeclareFetch=1 makes it fetch through a cursor, Fetch
// rows at a time). An export reads every row once, front to back, so those modes lose nothing.
#pragma once

#include <string>
#include <string_view>

namespace quillon::odbc {

// Rows psqlodbc fetches at a time through its cursor.
inline constexpr int kPostgresFetchRows = 1000;

// `connect` with the options that make a driver above stream its rows, for the drivers named by
// DRIVER (a name odbcinst knows, or a library path) or through the data source DSN names.
// An option the connect string or the data source already sets, in any letter case, is the
// user's choice and stays as it is; streaming switched off gets none of the streaming options.
// The same drivers also get, unless the user chose otherwise, the options that make them deliver
// what the source holds: BoolsAsChar=0 for psqlodbc (booleans as booleans) and, for a source
// only read, NoCreat=1 for SQLite3 (a source is never created; a mistyped path would make an
// empty database). Every other connect string comes back unchanged.
enum class SourceUse { ReadOnly, ReadWrite };
std::wstring WithStreamingFetch(std::wstring_view connect, SourceUse use = SourceUse::ReadOnly);

}  // namespace quillon::odbc

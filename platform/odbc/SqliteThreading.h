// SQLite's multi-thread mode for a process that owns its SQLite library.
//
// SQLite in its default (serialized) mode locks a mutex around every call on a connection. In
// multi-thread mode it does not: a connection, and every statement made on it, must then never be
// used by two threads at the same time. Quillon uses each connection from one thread at a time,
// so a program that is wholly Quillon's (quillon-export, quillon-host) may choose it; a plug-in
// inside another program must not, since the host may share its connections among threads.
#pragma once

#include <string_view>

namespace quillon::odbc {

// Puts the SQLite library of the ODBC driver that `connect` names (DRIVER=..., or a DSN's driver)
// into multi-thread mode, with its memory statistics off (no mutex around each allocation;
// sqlite3_memory_used and the soft heap limit then stop working). Does it only when that driver's library reaches
// SQLite, SQLite was built thread-safe, and no SQLite connection has been made in the process yet (SQLite accepts the
// mode only before it initializes); call it before the first connection opens. True when the mode was set. Never
// throws.
bool UseSqliteMultiThreadMode(std::wstring_view connect) noexcept;

}  // namespace quillon::odbc

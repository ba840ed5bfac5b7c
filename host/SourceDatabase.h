// Opening the database a program of ours reads from: the one a connect string names, or the
// embedded demo database. Shared by quillon-host and quillon-export, which own their process and
// only read the source (quillon-sql opens its connection otherwise: it may write and create).
#pragma once

#include <optional>
#include <string>

#include "platform/odbc/Database.h"

namespace quillon::host {

// Opens `database` on `connect` (UTF-8), or on the demo database, made first when missing, when
// there is none. SQLite is put into multi-thread mode before any connection is made (the
// process is ours and uses each connection from one thread at a time), and the connect string
// gets the options that make large results stream. Throws CDBException when the database cannot
// be opened, std::exception when the demo database cannot be made.
void OpenSourceDatabase(odbc::CDatabase& database, const std::optional<std::string>& connect);

}  // namespace quillon::host

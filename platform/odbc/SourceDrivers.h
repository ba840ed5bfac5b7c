// The source drivers Quillon knows by name, recognised by a piece of their library's file name
// (as odbcinst.ini or SQL_DRIVER_NAME gives it), in any letter case.
#pragma once

#include <algorithm>
#include <string_view>

#include "platform/text/Characters.h"

namespace quillon::odbc {

inline constexpr std::string_view kSqliteDriverLibrary = "sqlite3odbc";
inline constexpr std::string_view kPostgresDriverLibrary = "psqlodbc";

// Whether the driver library `library` is the one `piece` names.
inline bool IsDriverLibrary(std::string_view library, std::string_view piece) {
  return std::search(library.begin(), library.end(), piece.begin(), piece.end(),
                     [](char a, char b) { return text::AsciiLower(a) == text::AsciiLower(b); }) != library.end();
}

}  // namespace quillon::odbc

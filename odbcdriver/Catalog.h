// The catalog functions: SQLTables and SQLColumns over what the connection's file holds (the
// output driver's Tables), as result sets of the shapes ODBC gives them.
//
// Names are matched as search patterns ('%' any run of characters, '_' any one, the escape
// character '\' taking the next literally), without regard to letter case as the formats
// compare table names; with SQL_ATTR_METADATA_ID on they are identifiers (a double-quoted one
// taken as it stands). The files have no catalogs or schemas: those columns are NULL and their
// lists are empty.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "odbcdriver/ResultSet.h"
#include "odbcdriver/Session.h"

namespace quillon::odbcdriver {

inline constexpr wchar_t kSearchEscape = L'\\';

// An argument as the application gave it: nothing for a null pointer.
using CatalogArgument = std::optional<std::wstring>;

// Whether `value` matches the search pattern (letter case aside).
bool MatchesPattern(std::wstring_view value, std::wstring_view pattern);

// SQLTables: the tables whose names match `table` and whose type `types` lists (a comma-separated
// list, quoted or not; none or empty: TABLE, '%': every type); the special calls list the table
// types (TABLE, SYSTEM TABLE) and the catalogs and schemas (none).
ResultSet Tables(Session& session, const CatalogArgument& catalog, const CatalogArgument& schema,
                 const CatalogArgument& table, const CatalogArgument& types, bool metadataId);

// SQLColumns: the columns matching `column` of the tables matching `table`; system tables only
// when `table` starts with a character of their name rather than a wildcard (MSys%).
ResultSet Columns(Session& session, const CatalogArgument& catalog, const CatalogArgument& schema,
                  const CatalogArgument& table, const CatalogArgument& column, bool metadataId);

}  // namespace quillon::odbcdriver

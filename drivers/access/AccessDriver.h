// The built-in "Microsoft Access Driver (*.mdb)": writes Jet 4 databases (Access 2000 to 2003).
// It follows the skeleton of drivers/OutputDriver.h (connect string, lock, guard and errors);
// what is particular to databases:
//
// Connect: only DBQ names the database, which must exist and be a Jet 4 database this driver
// can write (not encrypted, no password), else the connection is refused and the file left as
// it is. A new, empty database is made by the installer's request instead: ODBC_ADD_DSN with
// CREATE_DB="path" (ConfigDataSource), refused for a path that exists or cannot be written.
//
// Create: each CREATE TABLE adds a table of the same name (Jet's rules for names; no indexes of
// its own). Types: TEXT and VARCHAR(n) as Text of 255 or n characters, MEMO as Memo, DOUBLE as
// Double, BIT as Yes/No, INTEGER as Long, SMALLINT as Integer, DATE as Date/Time, LONGBINARY as
// OLE Object. Insert: each row's values are checked as sql/ValueCheck.h says (a Memo or an OLE
// Object up to 16 MB); numbers for integer columns are rounded, DATE is stored as Jet's date
// (before 1899-12-30 the fraction counts forward from the day).
//
// Close: rows go to a working copy beside the file as pages fill; Close puts the complete new
// version in the file's place (AccessDatabase.h), so the old file stays whole if anything fails
// or the process dies.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers::access {

using odbc::kAccessDriverName;

// The driver, registered under kAccessDriverName by RegisterBuiltInDrivers.
std::shared_ptr<odbc::IBuiltInDriver> MakeAccessDriver();

// The path of a CREATE_DB attribute entry (`CREATE_DB="path"`, quotes and a closing ';'
// optional), or an empty string when the entry is another attribute.
std::wstring CreateDbPath(std::wstring_view entry);

}  // namespace quillon::drivers::access

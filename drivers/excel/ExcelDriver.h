// The built-in "Microsoft Excel Driver (*.xls)": writes Excel 97-2003 workbooks (BIFF8 in a
// Compound File).
//
// Connect strings: DBQ names the workbook (it runs to the end of the string); CREATE_DB names
// it too and allows it to be new; READONLY=1/TRUE refuses every statement. FIRSTROWHASNAMES is
// accepted: a sheet's first row always holds the column names. An existing file must
// be a BIFF8 workbook, else the connection is refused and the file left as it is. A new workbook
// is only written when a table was created in it.
//
// Each CREATE TABLE adds a sheet (see Workbook.h for sheet names; a sheet named otherwise than its
// table is reported through CreatedTableName), its first row the column
// names; each INSERT INTO adds a row, its values checked as sql/ValueCheck.h says. Cells: numbers
// as numbers; text in the shared string table (up to 32767 UTF-16 units a cell, VARCHAR(n) up
// to n); an unquoted number in a text column stays a number unless it has more than 15
// significant digits (then it is kept as text, every digit); BIT as a boolean; DATE as a serial
// with a date format (date and time when the time is not midnight), a day before 1900-01-01 as
// the text YYYY-MM-DD HH:MM:SS; NULL as an empty cell. A sheet takes 65535 rows under its header
// and 256 columns; an existing sheet takes no rows. A workbook whose file would exceed 2 GB (the
// most a compound file of 512-byte sectors holds) is refused by Close (FileTooLarge), before anything
// is written. Nothing reaches the file before Close (or destruction, which closes): then the whole file is written to
// an anonymous file beside the old one and put in its place (platform/file/FileReplacement.h: owner, group and mode
// kept, links followed), so the old file stays whole if anything fails or the process dies. The file is locked from
// connect to destruction: a second connection to it is refused. After a failed write of a temporary file
// (odbc::errors::IsIoError) every statement is refused and the file is left as it was.
#pragma once

#include <memory>

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers::excel {

using odbc::kExcelDriverName;

std::shared_ptr<odbc::IBuiltInDriver> MakeExcelDriver();

}  // namespace quillon::drivers::excel

// The built-in "Microsoft Excel Driver (*.xls)": writes Excel 97-2003 workbooks (BIFF8 in a
// Compound File). It follows the skeleton of drivers/OutputDriver.h (connect string, lock, guard
// and errors); what is particular to workbooks:
//
// Connect: CREATE_DB names the workbook too and allows it to be new (DBQ wins when both are
// given). FIRSTROWHASNAMES is accepted: a sheet's first row always holds the column names. An
// existing file must be a BIFF8 workbook, else the connection is refused (FileUnreadable) and
// the file left as it is. A new workbook is only written when a table was created in it.
//
// Create: each CREATE TABLE adds a sheet (see Workbook.h for sheet names; a sheet named
// otherwise than its table is reported through CreatedTableName), its first row the column
// names. Insert: each row's values are checked as sql/ValueCheck.h says (a sheet takes whole
// numbers of any size). Cells: numbers as numbers; text in the shared string table (up to 32767
// UTF-16 units a cell, VARCHAR(n) up to n); an unquoted number in a text column stays a number
// unless it has more than 15 significant digits (then it is kept as text, every digit); BIT as a
// boolean; DATE as a serial with a date format (date and time when the time is not midnight), a
// day before 1900-01-01 as the text YYYY-MM-DD HH:MM:SS; NULL as an empty cell. A sheet takes
// 65535 rows under its header and 256 columns; an existing sheet takes no rows.
//
// Close: a workbook whose file would exceed 2 GB (the most a compound file of 512-byte sectors
// holds) is refused (FileTooLarge) before anything is written. Nothing reaches the file before
// Close (or a checkpoint): then the whole file is written to an anonymous file beside the old
// one and put in its place (platform/file/FileReplacement.h: owner, group and mode kept, links
// followed), so the old file stays whole if anything fails or the process dies.
//
// Checkpoint: the whole file is written as Close writes it (refused alike when too large) and a
// copy of it put in the file's place; the connection goes on, its tables taking more rows, and
// the file Close writes at the end is byte for byte the one a connection without checkpoints
// writes.
#pragma once

#include <memory>

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers::excel {

using odbc::kExcelDriverName;

// The driver, registered under kExcelDriverName by RegisterBuiltInDrivers.
std::shared_ptr<odbc::IBuiltInDriver> MakeExcelDriver();

}  // namespace quillon::drivers::excel

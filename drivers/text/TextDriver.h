// The built-in delimited-text drivers: "Quillon Text Driver (*.txt)" writes tab-separated lines
// ending in LF, "Quillon CSV Driver (*.csv)" comma-separated lines ending in CR LF (RFC 4180).
// Both follow the skeleton of drivers/OutputDriver.h (connect string, lock, guard and errors);
// what is particular to text files:
//
// Connect: CREATE_DB names the file too and allows it to be new (DBQ wins when both are given).
// A text file holds one table: CREATE TABLE on a file that exists (unless the connect string
// asks to replace it) is refused and the file left as it is, and so is a second CREATE TABLE on
// one connection.
//
// Text: UTF-8 without a byte-order mark; the first line the column names, then one line a row.
// A field is put in double quotes, each inner one doubled, when it holds the delimiter, a double
// quote, CR or LF, when it begins or ends with a blank (a space or a tab; readers that trim
// blanks keep them then) and when it is empty text, so that an empty field stands for NULL
// alone. Each row is checked against its columns as sql/ValueCheck.h says (whole numbers of any
// size), and written from the literals as the statement gives them: numbers, dates and booleans
// as written, binary values as 0x and hexadecimal digits.
//
// Rows are written as they come, through a buffer, into an anonymous file beside the target,
// which Close puts in its place (platform/file/FileReplacement.h): the target only ever holds
// a complete file, and a new file is only made when a table was created.
#pragma once

#include <memory>

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers::delimited {

using odbc::kCsvDriverName;
using odbc::kTextDriverName;

// The drivers, registered under kTextDriverName and kCsvDriverName by RegisterBuiltInDrivers.
std::shared_ptr<odbc::IBuiltInDriver> MakeTextDriver();
std::shared_ptr<odbc::IBuiltInDriver> MakeCsvDriver();

}  // namespace quillon::drivers::delimited

// The built-in .xlsx driver: writes Office Open XML workbooks (SpreadsheetML in a zip package).
// It follows the skeleton of drivers/OutputDriver.h (connect string, lock, guard and errors);
// what is particular to these workbooks:
//
// Connect: CREATE_DB names the workbook too and allows it to be new (DBQ wins when both are
// given). An existing file gets the new sheets after its own (ExistingWorkbook.h); one the driver
// will not add to (not a zip package, encrypted, no workbook, Strict Open XML, damaged) is refused
// (FileUnreadable) and left as it is. A new workbook is only written when a table was created in
// it.
//
// Create: each CREATE TABLE adds a sheet, named by the rule of drivers/sql/SheetName.h as the
// .xls driver names its sheets, a control character becoming '_' too (a sheet named otherwise
// than its table is reported through CreatedTableName); its first row holds the column names,
// bold, frozen and with an AutoFilter. A sheet takes 1,048,575 rows under its header and 16,384
// columns; a cell's text holds up to 32,767 UTF-16 units (VARCHAR(n) up to n). Insert: each row's
// values are checked as sql/ValueCheck.h says (a sheet takes whole numbers of any size) and
// written as SheetWriter.h says.
//
// Close: each sheet's part was deflated into a temporary file of its own as its rows arrived;
// the package is assembled from them and the workbook's other parts (an existing workbook's
// entries copied as they are stored, the few it changes rewritten) in an anonymous file beside
// the old one and put in its place (platform/file/FileReplacement.h), so the old file stays whole
// if anything fails or the process dies.
//
// Checkpoint: the package is assembled as at close, each sheet's part ended as it would end now
// (its deflate stream ended by a copy of its compressor, so the sheet's own stream goes on
// unchanged), written over the work file and published as a copy (CommitCopy); every sheet goes
// on taking rows. The file closed after checkpoints is byte for byte the one the same statements
// make without them.
#pragma once

#include <cstdint>
#include <memory>

#include "drivers/xlsx/SpreadsheetML.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers::xlsx {

using odbc::kXlsxDriverName;

struct XlsxLimits {
  std::uint32_t maxRows = sml::kMaxRows;  // a sheet's rows, the header's included
};

// The driver, registered under kXlsxDriverName by RegisterBuiltInDrivers. Tests make one with
// smaller limits, to fill a sheet quickly.
std::shared_ptr<odbc::IBuiltInDriver> MakeXlsxDriver(XlsxLimits limits = {});

}  // namespace quillon::drivers::xlsx

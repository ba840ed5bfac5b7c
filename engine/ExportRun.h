// One export: run a statement on the source connection and copy every row of its result into a
// new table of an Excel workbook, an Access database or a delimited text file, created with its
// folders when missing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ExportHost.h"
#include "engine/OutputFormat.h"

namespace quillon::odbc {
class CDatabase;
}

namespace quillon::engine {

// Rows a table of Excel output receives before the run continues in a further table: .xls and
// .xlsx, a sheet's rows under its header.
inline constexpr std::int32_t kRowsPerExcelTable = 65535;
inline constexpr std::int32_t kRowsPerXlsxTable = 1048575;

// What a run may be told besides its statement, file and format.
struct ExportOptions {
  // The new table's (sheet's) name; empty for the source table's.
  std::wstring tableName;
  // An existing file is replaced by a new one holding only the new table, instead of getting
  // the table added (a text file, which holds one table, is refused otherwise).
  bool replace = false;
};

// Runs `statement` on `source` and copies its rows into `outputPath` in `format`, talking to
// the user through `host`. True when the copying reached the end of the result, or the user
// ended it in the row-error box; false on every other way out (each logged). Never throws.
bool ExportQuery(odbc::CDatabase& source, IExportHost& host, std::wstring_view statement, std::wstring_view outputPath,
                 OutputFormat format);
bool ExportQuery(odbc::CDatabase& source, IExportHost& host, std::wstring_view statement, std::wstring_view outputPath,
                 OutputFormat format, const ExportOptions& options);

// Creates the missing folders above the file `path` names, outermost first. False when the path
// holds no '/' or a folder could not be made because the one above it is missing.
bool CreateFolderPath(std::wstring_view path);

}  // namespace quillon::engine

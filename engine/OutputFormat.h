// The output formats, numbered as the dialog's format list orders them.
#pragma once

#include <string_view>

namespace quillon::engine {

enum OutputFormat : int {
  FormatUnknown = -1,  // an extension the script runner does not know
  FormatExcel = 0,     // Microsoft Excel Driver, .xls
  FormatAccess = 1,    // Microsoft Access Driver, .mdb
  FormatText = 2,      // tab-delimited text, .txt
  FormatXlsx = 3,      // Office Open XML workbook, .xlsx
  FormatCsv = 4,       // comma-separated text, .csv
};

// The format a file's extension names: the text after the path's last '.' (the whole path when
// it has none), compared without regard to letter case: XLS, MDB, TXT, XLSX, CSV; FormatUnknown
// otherwise.
OutputFormat FormatFromExtension(std::wstring_view path);

// Whether the format's columns are typed by their kind of value (DATE, TIMESTAMP and TIME told
// apart, decimals as their digits): .xlsx, .txt and .csv; .xls and .mdb keep their own types.
bool IsTypedFormat(OutputFormat format);

}  // namespace quillon::engine

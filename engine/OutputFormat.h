// The output formats, numbered as the dialog's format list orders them.
#pragma once

namespace quillon::engine {

enum OutputFormat : int {
  FormatUnknown = -1,  // an extension the script runner does not know
  FormatExcel = 0,     // Microsoft Excel Driver, .xls
  FormatAccess = 1,    // Microsoft Access Driver, .mdb
  FormatText = 2,      // tab-delimited text, .txt: offered, but refused by the export run
};

}  // namespace quillon::engine

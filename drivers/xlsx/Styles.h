// The cell formats (cellXfs indexes of xl/styles.xml) the driver's cells use, and the styles part
// of a new workbook that defines them.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::drivers::xlsx {

// Indexes into <cellXfs>. Cells without a format (numbers, text, booleans) use the workbook's
// default, 0. Each of these exists once the package is written: a new workbook's styles.xml
// (NewStylesXml) defines them at these indexes; an existing workbook's gets them added at the end
// of its lists, every earlier index keeping its meaning.
struct CellStyles {
  std::uint32_t header = 1;    // bold: the column names
  std::uint32_t date = 2;      // yyyy-mm-dd
  std::uint32_t dateTime = 3;  // yyyy-mm-dd hh:mm:ss
  std::uint32_t time = 4;      // hh:mm:ss
};

// xl/styles.xml of a new workbook: the default font and its bold, the number formats of the
// dates and times, and the cell formats at the indexes CellStyles{} names.
std::string NewStylesXml();

}  // namespace quillon::drivers::xlsx

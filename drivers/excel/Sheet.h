// A sheet this driver adds to a workbook: a table's header row and rows of typed cells. Cell
// records spool to the workbook's spool file as rows arrive; the sheet's substream is written at
// the end, its cells where they lie when it goes into that same file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/excel/SharedStrings.h"
#include "drivers/excel/Streams.h"
#include "drivers/sql/DatePattern.h"
#include "drivers/sql/Statement.h"
#include "drivers/sql/ValueCheck.h"

namespace quillon::drivers::excel {

// The cell formats (XF indexes) the driver's cells use.
struct CellFormats {
  std::uint16_t general = 0;
  std::uint16_t date = 0;
  std::uint16_t dateTime = 0;
  bool date1904 = false;  // the workbook counts dates from 1904-01-01
};

class Sheet {
 public:
  // Writes the header row: the column names, as text.
  Sheet(std::wstring table, std::u16string sheetName, std::vector<sql::ColumnDef> columns, const CellFormats& formats,
        SharedStrings& strings, SpoolFile& spool);

  const std::wstring& Table() const { return m_table; }
  const std::u16string& Name() const { return m_name; }
  const std::vector<sql::ColumnDef>& Columns() const { return m_columns; }
  // Rows under the header.
  int DataRows() const { return m_rows - 1; }

  // DATE text is read by `pattern` from now on (null: the fixed forms); it must outlive the sheet.
  void ReadDatesBy(const sql::DatePattern* pattern) { m_datePattern = pattern; }

  // Checks every value against its column, then writes the row; a refused row writes nothing.
  // Throws odbc::CDBException (column count, value checks, a full sheet).
  void AddRow(const std::vector<sql::Literal>& values);

  // True when cells filled sectors of the spool: the sheet's cells then start a sector of the
  // stream, so that those sectors can become the stream's.
  bool Spooled() const { return !m_cells.Runs().empty(); }
  // Size of the substream Write produces at stream position `at`.
  std::uint64_t StreamSize(std::uint64_t at) const;
  // The same without the records that place the cells, which depend on the position.
  std::uint64_t BytesSoFar() const { return kRecordBytes + m_cells.Size(); }
  // BOF, the records that place a spooled sheet's cells (default print settings, an empty header
  // and footer, the columns' default width; none of them changes what Excel shows), DIMENSIONS,
  // the cells, WINDOW2, EOF. `selected` marks the sheet as the one shown. The records placing the
  // cells need an even distance to fill: at an odd one the cells are copied.
  void Write(Sink& sink, bool selected);

 private:
  // BOF, DIMENSIONS, WINDOW2 and EOF, headers included.
  static const std::uint64_t kRecordBytes;

  // Appends a cell record of `size` data bytes and returns where its value goes.
  std::uint8_t* PutCellHeader(std::uint16_t id, std::uint16_t size, int column, std::uint16_t xf);
  inline void PutNumber(int column, double value, std::uint16_t xf);
  void PutString(int column, std::u16string_view text);
  // The same for wide text.
  void PutText(int column, std::wstring_view text);
  // Bytes of the records that place the cells of the substream at `at`.
  std::uint64_t FillerAt(std::uint64_t at) const;

  std::wstring m_table;
  std::u16string m_name;
  std::vector<sql::ColumnDef> m_columns;
  CellFormats m_formats;
  SharedStrings& m_strings;
  Spool m_cells;
  int m_rows = 0;  // header included
  // Room for every column's largest record: the row is built here when the spool's buffer has
  // no room for it.
  std::vector<std::uint8_t> m_row;
  std::uint8_t* m_rowEnd = nullptr;  // where the row's next record goes
  std::vector<sql::Value> m_values;
  const sql::DatePattern* m_datePattern = nullptr;
};

// Characters of a cell limit for text columns.
std::size_t CellTextLimit(const sql::ColumnDef& column);

}  // namespace quillon::drivers::excel

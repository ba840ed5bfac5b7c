// One worksheet part the driver adds: a table's header row (the column names, bold, frozen, with
// an AutoFilter) and its rows of typed cells, streamed as SpreadsheetML into a DeflatedFile as
// they arrive. The first rows are held back as text until the column widths are fitted to them
// (sml::kWidthSampleRows, at most sml::kWidthSampleBytes), so memory stays flat whatever the
// row count.
//
// Cells: a number as its shortest round-trip text; an unquoted number in a text column by
// sql::SheetNumberForm (a number, text keeping every digit, or the error #NUM!), NaN and the
// infinities as #NUM!; BIT as a boolean; DATE, TIMESTAMP and TIME as serials formatted as a date,
// a date and time, and a time of day (a DATE with a time of day as a date and time), a day before
// 1900-01-01 as the text YYYY-MM-DD HH:MM:SS; text as an inline string; NULL as no cell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drivers/sql/DatePattern.h"
#include "drivers/sql/Statement.h"
#include "drivers/sql/ValueCheck.h"
#include "drivers/xlsx/Styles.h"
#include "drivers/xlsx/ZipWriter.h"

namespace quillon::drivers::xlsx {

class SheetWriter {
 public:
  // Starts the sheet with its header row. `maxRows` counts the header row; `selected` makes it
  // the sheet shown when the workbook opens.
  SheetWriter(std::wstring table, std::u16string sheetName, std::vector<sql::ColumnDef> columns,
              const CellStyles& styles, bool date1904, std::uint32_t maxRows, bool selected);

  const std::wstring& Table() const { return m_table; }
  const std::u16string& Name() const { return m_name; }
  const std::vector<sql::ColumnDef>& Columns() const { return m_columns; }

  // DATE text is read by `pattern` from now on (null: the fixed forms); it must outlive the sheet.
  void ReadDatesBy(const sql::DatePattern* pattern) { m_datePattern = pattern; }

  // Checks every value against its column, then writes the row; a refused row writes nothing.
  // Throws odbc::CDBException (column count, value checks, a full sheet, a failed write).
  void AddRow(const std::vector<sql::Literal>& values);

  // Ends the part; no rows after it.
  void Finish();
  const DeflatedFile& Part() const { return m_part; }
  // Adds to `zip`, as the entry `name`, the part as Finish would end it now (byte for byte), and
  // goes on taking rows: the part Finish ends later is the same as if no snapshot had been taken
  // (the widths of a sheet that does not stream yet are those of its rows so far).
  void AddSnapshot(ZipWriter& zip, std::string_view name) const;
  // The range of the header and the rows, absolute ($A$1:$C$10), for the AutoFilter's name.
  std::string FilterRange() const;

 private:
  void AddCell(std::size_t column, const sql::Value& value);
  void OpenCell(std::size_t column, std::uint32_t style, std::string_view type);
  void PutNumber(std::size_t column, double value, std::uint32_t style);
  void PutText(std::size_t column, std::wstring_view text, std::uint32_t style);
  void PutRaw(std::size_t column, std::string_view ascii, std::string_view type);
  // The widest text a column shows so far, in characters.
  void Measure(std::size_t column, std::size_t chars);
  // Writes what comes before the rows, then the rows held back; the sheet streams from then on.
  void StartStreaming();
  // What comes before the rows, and what ends the part after them.
  std::string Head() const;
  std::string Tail() const;
  std::string Range(bool absolute) const;

  std::wstring m_table;
  std::u16string m_name;
  std::vector<sql::ColumnDef> m_columns;
  std::vector<std::string> m_letters;  // each column's letters
  std::vector<std::size_t> m_widths;   // characters, while the widths are being fitted
  CellStyles m_styles;
  bool m_date1904 = false;
  std::uint32_t m_maxRows = 0;
  bool m_selected = false;
  std::uint32_t m_rows = 0;  // header included
  bool m_streaming = false;
  std::string m_xml;  // rows not yet deflated
  std::string m_rowNumber;
  DeflatedFile m_part;
  std::vector<sql::Value> m_values;
  const sql::DatePattern* m_datePattern = nullptr;
};

// The letters of a column, from 0 (A, B, ..., Z, AA, ...).
std::string ColumnLetters(std::size_t column);

}  // namespace quillon::drivers::xlsx

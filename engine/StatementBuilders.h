// The SQL text an export sends to its output driver: a CREATE TABLE template once per export,
// and one INSERT statement per row, values written as literals.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ExportHost.h"
#include "engine/OutputFormat.h"
#include "platform/odbc/DBVariant.h"
#include "platform/odbc/Literal.h"
#include "platform/odbc/Recordset.h"

namespace quillon::engine {

class RowReader;

// The placeholder for the table name in the CREATE TABLE template.
inline constexpr std::wstring_view kTableNamePlaceholder = L"%s";
inline constexpr std::wstring_view kDefaultDatePattern = L"%d.%m.%y %H:%M:%S";

// The name each result column gets in the new table: its own with the full stops removed, as far
// as the format allows. An empty name becomes "Column<n>" (n counting from 1). For Access, the
// characters a Jet field name cannot hold (! ` [ ] and control characters) become '_', leading
// blanks go, and the name is cut to 64 characters. A name that then repeats an earlier column's
// (letter case aside, as the drivers compare) gets "_2", "_3", ... added, the first such name
// that neither an earlier nor a later column has. `why` says why a name differs; empty when only
// full stops were removed.
struct OutputColumn {
  std::wstring sourceName;
  std::wstring name;
  std::wstring why;
};
std::vector<OutputColumn> OutputColumnNames(const odbc::CRecordset& recordset, OutputFormat format);

// "CREATE TABLE %s (" then each column as "[name] TYPE" (or "'name' TYPE" when the name holds a
// blank, '-' or '&'), separated by ',' and closed by ");". Names are `columns`', which
// OutputColumnNames gave for the same recordset and format; without them they are worked out
// here. Inside brackets each ']' is doubled, inside apostrophes each apostrophe.
// The recordset must be open; its position does not matter.
std::wstring BuildCreateTableSql(odbc::CRecordset& recordset, OutputFormat format,
                                 const std::vector<OutputColumn>& columns);
std::wstring BuildCreateTableSql(odbc::CRecordset& recordset, OutputFormat format);

// The column type one result column gets in the CREATE TABLE template. The typed formats
// (IsTypedFormat) take BIT, INTEGER (every whole number), DOUBLE, DATE, TIMESTAMP, TIME and
// TEXT (decimals, text and binary values); .xls and .mdb their own.
std::wstring ColumnTypeSql(const odbc::CODBCFieldInfo& field, OutputFormat format);

// Puts `tableName` in place of the template's placeholder and changes nothing else.
std::wstring FillCreateTemplate(std::wstring_view createTemplate, std::wstring_view tableName);

// Reads the current row: each column's value once, in column order, into `row` (one holder per
// column; holders and their text storage are reused from row to row). Throws what the recordset throws.
void ReadRow(odbc::CRecordset& recordset, std::vector<odbc::CDBVariant>& row);

// The SQL type code of each result column, as BuildInsertLiterals takes them.
std::vector<std::int16_t> ColumnSqlTypes(const odbc::CRecordset& recordset);

// One read row as the literals of its INSERT: a null is Null; a value of a number or bit column
// is Number, as written, except that a whole number, a double and a bit the source gave as such
// go unwritten as Integer, Double and Boolean; a binary value is Binary (its bytes, and 0x and
// hexadecimal digits as its text); a date is DateTime, its parts, written by `datePattern`
// (EffectiveDatePattern of it; its text must outlive the literals' use) when text is wanted, a
// time of day by the pattern's time part; every other value is Text, as it is (apostrophes not
// doubled).
// `out` gets one literal per value; its text storage is reused.
void BuildInsertLiterals(const std::vector<odbc::CDBVariant>& row, const std::vector<std::int16_t>& sqlTypes,
                         std::wstring_view datePattern, IExportHost& host, std::vector<odbc::Literal>& out);

// The literals BuildInsertLiterals makes of the reader's current row, one a column (of the SQL
// types `sqlTypes`), read from the row's bytes without a CDBVariant for the common kinds
// (`scratch` holds the others; `cells` is storage kept from row to row). `datePattern` is the
// effective one. Throws what the reader throws, at the first value that cannot arrive exactly.
void ReadLiterals(const RowReader& reader, std::span<const std::int16_t> sqlTypes, std::wstring_view datePattern,
                  IExportHost& host, odbc::CDBVariant& scratch, std::vector<odbc::CellValue>& cells,
                  std::vector<odbc::Literal>& literals);

// "INSERT INTO <tableName> VALUES(" then the literals separated by ',' (NULL, a number or a
// binary value as written, text between apostrophes with each inner apostrophe doubled; a typed
// literal as odbc::AppendLiteralText writes it, a date as text), closed by ");".
// Replaces what `out` held, keeping its storage.
void RenderInsertSql(std::wstring_view tableName, const std::vector<odbc::Literal>& literals, std::wstring& out);

// The INSERT of the recordset's current row: ReadRow, BuildInsertLiterals, RenderInsertSql.
// Throws what the recordset throws.
std::wstring BuildInsertSql(odbc::CRecordset& recordset, std::wstring_view tableName, IExportHost& host);

// What building one row's statement leaves for the next row of the same export, so that rows
// after the first allocate little: the read row, its literals and the column types.
struct InsertScratch {
  std::vector<odbc::CDBVariant> values;
  std::vector<odbc::Literal> literals;
  std::vector<std::int16_t> sqlTypes;
  std::wstring datePattern;  // the effective one the literals' dates are written by
};
std::wstring BuildInsertSql(odbc::CRecordset& recordset, std::wstring_view tableName, IExportHost& host,
                            InsertScratch& scratch);

// A date-time by `pattern`: %d day, %m month, %y whole year, %H hour, %M minute, %S second,
// each in plain decimal; everything else stays. A blank pattern means kDefaultDatePattern.
struct DateParts {
  int year, month, day, hour, minute, second;
};
std::wstring FormatDateValue(const DateParts& date, std::wstring_view pattern);
// The pattern dates are written by for the Date field's text `pattern`: trimmed, and
// kDefaultDatePattern when blank.
std::wstring_view EffectiveDatePattern(std::wstring_view pattern);

}  // namespace quillon::engine

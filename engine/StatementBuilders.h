// The SQL text an export sends to its output driver: a CREATE TABLE template once per export,
// and one INSERT statement per row, values written as literals.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ExportHost.h"
#include "engine/OutputFormat.h"
#include "platform/odbc/DBVariant.h"

namespace quillon::odbc {
class CRecordset;
struct CODBCFieldInfo;
}

namespace quillon::engine {

// The placeholder for the table name in the CREATE TABLE template.
inline constexpr std::wstring_view kTableNamePlaceholder = L"%s";
inline constexpr std::wstring_view kDefaultDatePattern = L"%d.%m.%y %H:%M:%S";

// "CREATE TABLE %s (" then each column as "[name] TYPE" (or "'name' TYPE" when the name holds a
// blank, '-' or '&'), separated by ',' and closed by ");". Names are those of OutputColumnNames;
// inside brackets each ']' is doubled, inside apostrophes each apostrophe.
// The recordset must be open; its position does not matter.
std::wstring BuildCreateTableSql(odbc::CRecordset& recordset, OutputFormat format);

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

// The column type one result column gets in the CREATE TABLE template.
std::wstring ColumnTypeSql(const odbc::CODBCFieldInfo& field, OutputFormat format);

// Puts `tableName` in place of the template's placeholder and changes nothing else.
std::wstring FillCreateTemplate(std::wstring_view createTemplate, std::wstring_view tableName);

// "INSERT INTO <tableName> VALUES(" then the current row's values, each read once in column
// order, closed by ");". Date values are written by the host's date pattern.
// Throws what the recordset throws.
std::wstring BuildInsertSql(odbc::CRecordset& recordset, std::wstring_view tableName, IExportHost& host);

// What building one row's statement leaves for the next row of the same export, so that rows
// after the first allocate little: a value holder per column, whose text storage is reused, and
// the length of the last statement, which the next one is likely to match.
struct InsertScratch {
  std::deque<odbc::CDBVariant> values;
  std::size_t lastLength = 0;
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

#include "engine/StatementBuilders.h"

#include <array>
#include <charconv>
#include <cmath>
#include <set>

#include "engine/RowReader.h"
#include "platform/odbc/AccessNames.h"
#include "platform/odbc/DBVariant.h"
#include "platform/odbc/Recordset.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::engine {
namespace {

using odbc::CDBVariant;
using odbc::CODBCFieldInfo;

constexpr std::uint32_t kLongestAccessVarchar = 255;
// The size drivers report for text whose length they do not know (psqlodbc for a varchar without
// a length, the SQLite driver for an expression); 0 when they report none at all.
constexpr std::uint32_t kDefaultTextSize = 255;
constexpr std::uint32_t kNoTextSize = 0;
// Digits of a whole number that every double holds exactly (below 2^53).
constexpr std::size_t kMaxExactWholeDigits = 15;
constexpr wchar_t kNamePunctuationNeedingQuotes[] = {L' ', L'-', L'&'};
constexpr std::wstring_view kHexDigits = L"0123456789ABCDEF";
// Column names the output cannot take as they are.
constexpr wchar_t kNameReplacement = L'_';
constexpr std::wstring_view kUnnamedColumn = L"Column";
constexpr std::wstring_view kNoName = L"the source gives it no name";
constexpr std::wstring_view kAccessNameRule =
    L"an Access field name holds none of ! ` [ ] or control characters, begins with no blank and has at most 64 "
    L"characters";
constexpr std::wstring_view kRepeatedName = L"its name repeats an earlier column's (letter case aside)";
constexpr std::wstring_view kInsertInto = L"INSERT INTO ";
constexpr std::wstring_view kValuesOpen = L" VALUES(";
constexpr std::wstring_view kStatementEnd = L");";

}  // namespace

namespace {

// ODBC 3's codes for dates and times, which a driver may report besides ODBC 2's.
constexpr std::int16_t kSqlTypeDate = 91;
constexpr std::int16_t kSqlTypeTime = 92;
constexpr std::int16_t kSqlTypeTimestamp = 93;

// The column types of the typed formats (.xlsx, .txt, .csv): every whole number INTEGER (of any
// size there), decimals TEXT (their digits kept; a sheet makes a number of those a double holds
// exactly), dates, date-times and times of day apart.
std::wstring TypedColumnTypeSql(std::int16_t sqlType) {
  switch (sqlType) {
    case odbc::SQL_CODE_BIT:
      return L"BIT";
    case odbc::SQL_CODE_TINYINT:
    case odbc::SQL_CODE_SMALLINT:
    case odbc::SQL_CODE_INTEGER:
    case odbc::SQL_CODE_BIGINT:
      return L"INTEGER";
    case odbc::SQL_CODE_FLOAT:
    case odbc::SQL_CODE_REAL:
    case odbc::SQL_CODE_DOUBLE:
      return L"DOUBLE";
    case odbc::SQL_CODE_DATE:
    case kSqlTypeDate:
      return L"DATE";
    case odbc::SQL_CODE_TIMESTAMP:
    case kSqlTypeTimestamp:
      return L"TIMESTAMP";
    case odbc::SQL_CODE_TIME:
    case kSqlTypeTime:
      return L"TIME";
    default:  // text, binary (as 0x text), decimals
      return L"TEXT";
  }
}

}  // namespace

std::wstring ColumnTypeSql(const CODBCFieldInfo& field, OutputFormat format) {
  if (IsTypedFormat(format)) return TypedColumnTypeSql(field.m_nSQLType);
  const bool access = format == FormatAccess;
  switch (field.m_nSQLType) {
    case odbc::SQL_CODE_BIT:
      return L"BIT";
    // Also of precision 1: such a column holds numbers such as 7, -3 or 0.5, which a Yes/No
    // field would turn into Yes.
    case odbc::SQL_CODE_DECIMAL:
    case odbc::SQL_CODE_DOUBLE:
      return L"DOUBLE";
    case odbc::SQL_CODE_INTEGER:
      return L"INTEGER";
    case odbc::SQL_CODE_SMALLINT:
      return L"SMALLINT";
    case odbc::SQL_CODE_TIMESTAMP:
      return L"DATE";
    case odbc::SQL_CODE_VARCHAR:
    // Long and wide text follow the VARCHAR rule too, so that longer values find room in a MEMO.
    case odbc::SQL_CODE_LONGVARCHAR:
    case odbc::SQL_CODE_WLONGVARCHAR:
    case odbc::SQL_CODE_WVARCHAR:
    case odbc::SQL_CODE_WCHAR:
      if (!access) return L"TEXT";
      // A size that may be only the driver's default says nothing of the values' length: a Memo
      // takes them whole, where a Text(255) would refuse every longer one.
      if (field.m_nPrecision == kDefaultTextSize || field.m_nPrecision == kNoTextSize) return L"MEMO";
      if (field.m_nPrecision < kLongestAccessVarchar) return L"VARCHAR(" + std::to_wstring(field.m_nPrecision) + L")";
      return L"MEMO";
    // Access keeps the bytes themselves in an OLE Object, of any length; a sheet shows them as
    // hexadecimal text.
    case odbc::SQL_CODE_BINARY:
    case odbc::SQL_CODE_VARBINARY:
    case odbc::SQL_CODE_LONGVARBINARY:
      return access ? L"LONGBINARY" : L"TEXT";
    default:
      return access ? L"VARCHAR(255)" : L"TEXT";
  }
}

namespace {

// Codes whose values are written without apostrophes: the numbers and bits.
bool IsUnquotedType(std::int16_t sqlType) {
  switch (sqlType) {
    case odbc::SQL_CODE_BIT:
    case odbc::SQL_CODE_TINYINT:
    case odbc::SQL_CODE_BIGINT:
    case odbc::SQL_CODE_NUMERIC:
    case odbc::SQL_CODE_DECIMAL:
    case odbc::SQL_CODE_INTEGER:
    case odbc::SQL_CODE_SMALLINT:
    case odbc::SQL_CODE_FLOAT:
    case odbc::SQL_CODE_REAL:
    case odbc::SQL_CODE_DOUBLE:
      return true;
    default:
      return false;
  }
}

template <typename Number, typename... Format>
void AppendNumber(std::wstring& out, Number value, Format... format) {
  std::array<char, 64> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format...);
  // Widened character by character: appending a narrow range would build a wide copy first.
  const auto length = static_cast<std::size_t>(result.ptr - buffer.data());
  const std::size_t at = out.size();
  out.resize(at + length);
  for (std::size_t i = 0; i < length; ++i) out[at + i] = static_cast<wchar_t>(buffer[i]);
}

// A float in its own shortest form, or the word for a value that is no number.
void AppendFloat(std::wstring& out, float value) {
  if (!std::isfinite(value)) {
    odbc::AppendDouble(out, value);
    return;
  }
  const std::size_t at = out.size();
  AppendNumber(out, value);
  // As for a double: more than 15 whole digits alone are written with an exponent.
  const std::size_t digits = out.size() - at - (out[at] == L'-' ? 1 : 0);
  if (out.find_first_of(L".eE", at) == std::wstring::npos && digits > kMaxExactWholeDigits) {
    out.resize(at);
    AppendNumber(out, value, std::chars_format::scientific);
  }
}

// Values whose text AppendValueText writes itself as one number token (digits, or a double's
// shortest form or word), unlike text a source gave for a number column.
bool WrittenAsNumber(std::uint32_t type) {
  switch (type) {
    case odbc::DBVT_BOOL:
    case odbc::DBVT_SHORT:
    case odbc::DBVT_LONG:
    case odbc::DBVT_BIGINT:
    case odbc::DBVT_SINGLE:
    case odbc::DBVT_DOUBLE:
      return true;
    default:
      return false;
  }
}

// The double that the text AppendValueText writes for `value` reads as, where that is the value
// itself: whole numbers (correctly rounded either way) and finite doubles (written in a form that
// reads back exactly). A float's shortest text reads as another double than the float widened.
bool NumberTextReadsAs(const CDBVariant& value, double& out) {
  switch (value.m_dwType) {
    case odbc::DBVT_BOOL:
      out = value.m_boolVal != 0 ? 1 : 0;
      return true;
    case odbc::DBVT_SHORT:
      out = value.m_iVal;
      return true;
    case odbc::DBVT_LONG:
      out = value.m_lVal;
      return true;
    case odbc::DBVT_BIGINT:
      out = static_cast<double>(value.m_llVal);
      return true;
    case odbc::DBVT_DOUBLE:
      out = value.m_dblVal;
      return std::isfinite(out);
    default:
      return false;
  }
}

// Appends the text of a value that is not null, as it is: nothing doubled, no quotes.
void AppendValueText(std::wstring& out, const CDBVariant& value, IExportHost& host, std::wstring_view datePattern) {
  switch (value.m_dwType) {
    case odbc::DBVT_NULL:
      break;
    case odbc::DBVT_BOOL:
      out += value.m_boolVal != 0 ? L'1' : L'0';
      break;
    case odbc::DBVT_UCHAR:
      if (value.m_chVal != 0) out += static_cast<wchar_t>(value.m_chVal);
      break;
    case odbc::DBVT_SHORT:
      AppendNumber(out, value.m_iVal);
      break;
    case odbc::DBVT_LONG:
      AppendNumber(out, value.m_lVal);
      break;
    case odbc::DBVT_BIGINT:
      AppendNumber(out, value.m_llVal);
      break;
    case odbc::DBVT_SINGLE:
      AppendFloat(out, value.m_fltVal);
      break;
    case odbc::DBVT_DOUBLE:
      odbc::AppendDouble(out, value.m_dblVal);
      break;
    case odbc::DBVT_DATE: {
      const odbc::TIMESTAMP_STRUCT& d = *value.m_pdate;
      const odbc::Literal::DateParts parts{d.year, d.month, d.day, d.hour, d.minute, d.second};
      // A time of day has no date to write: only the pattern's time part is filled.
      const bool timeOfDay = d.year == 0 && d.month == 0 && d.day == 0;
      odbc::AppendDateByPattern(out, parts, timeOfDay ? odbc::TimeOfDayPattern(datePattern) : datePattern);
      break;
    }
    case odbc::DBVT_STRING:
      out += *value.m_pstring;
      break;
    case odbc::DBVT_WSTRING:
      out += *value.m_pstringW;
      break;
    case odbc::DBVT_ASTRING:
      out += text::LocaleToWide(*value.m_pstringA);
      break;
    case odbc::DBVT_BINARY:
      // Hexadecimal, as a binary literal is written and a text column shows it.
      out += L"0x";
      for (std::uint8_t byte : value.m_pbinary->m_bytes) {
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0xF];
      }
      break;
    default:
      host.ReportUnknownType();
      break;
  }
}

// A date as the DateTime literal of a column of `sqlType`: a time of day has no date parts.
void SetDateLiteral(const odbc::TIMESTAMP_STRUCT& d, std::int16_t sqlType, std::wstring_view datePattern,
                    odbc::Literal& literal) {
  literal.kind = odbc::Literal::Kind::DateTime;
  literal.date = {d.year, d.month, d.day, d.hour, d.minute, d.second};
  literal.dateForm = d.year == 0 && d.month == 0 && d.day == 0                   ? odbc::Literal::DateForm::TimeOfDay
                     : sqlType == odbc::SQL_CODE_DATE || sqlType == kSqlTypeDate ? odbc::Literal::DateForm::Date
                                                                                 : odbc::Literal::DateForm::DateAndTime;
  literal.datePattern = datePattern;
}

}  // namespace

namespace {

// The column name between brackets or apostrophes, the closing character doubled inside.
void AppendQuotedName(std::wstring& sql, std::wstring_view name) {
  bool apostrophes = false;
  for (wchar_t c : kNamePunctuationNeedingQuotes) apostrophes = apostrophes || name.find(c) != std::wstring_view::npos;
  const wchar_t close = apostrophes ? L'\'' : L']';
  sql += apostrophes ? L'\'' : L'[';
  for (wchar_t c : name) {
    sql += c;
    if (c == close) sql += c;
  }
  sql += close;
  sql += L' ';
}

}  // namespace

std::vector<OutputColumn> OutputColumnNames(const odbc::CRecordset& recordset, OutputFormat format) {
  const std::int16_t count = recordset.GetODBCFieldCount();
  std::vector<OutputColumn> columns(static_cast<std::size_t>(count));
  std::set<std::wstring> all;  // keys of every column's own name, which suffixed names avoid
  for (std::int16_t i = 0; i < count; ++i) {
    OutputColumn& column = columns[static_cast<std::size_t>(i)];
    column.sourceName = recordset.GetODBCFieldInfo(i).m_strName;
    for (wchar_t c : column.sourceName) {
      if (c != L'.') column.name.push_back(c);
    }
    if (format == FormatAccess) {
      std::wstring fitting;
      for (wchar_t c : column.name) {
        if (fitting.empty() && c == odbc::kAccessNameBlank) continue;
        fitting.push_back(odbc::IsRefusedInAccessName(c) ? kNameReplacement : c);
      }
      if (fitting.size() > odbc::kMaxAccessNameChars) fitting.resize(odbc::kMaxAccessNameChars);
      if (fitting != column.name) {
        column.name = std::move(fitting);
        column.why = kAccessNameRule;
      }
    }
    if (column.name.empty()) {
      column.name = std::wstring(kUnnamedColumn) + std::to_wstring(i + 1);
      column.why = kNoName;
    }
    all.insert(text::NameCaseKey(column.name));
  }
  std::set<std::wstring> taken;
  for (OutputColumn& column : columns) {
    std::wstring key = text::NameCaseKey(column.name);
    if (taken.count(key) != 0) {
      const std::wstring base = column.name;
      for (int n = 2;; ++n) {
        const std::wstring suffix = L"_" + std::to_wstring(n);
        std::wstring candidate = base;
        if (format == FormatAccess && candidate.size() + suffix.size() > odbc::kMaxAccessNameChars) {
          candidate.resize(odbc::kMaxAccessNameChars - suffix.size());
        }
        column.name = candidate + suffix;
        key = text::NameCaseKey(column.name);
        if (taken.count(key) == 0 && all.count(key) == 0) break;
      }
      column.why = kRepeatedName;
    }
    taken.insert(std::move(key));
  }
  return columns;
}

std::wstring BuildCreateTableSql(odbc::CRecordset& recordset, OutputFormat format,
                                 const std::vector<OutputColumn>& columns) {
  std::wstring sql = L"CREATE TABLE ";
  sql += kTableNamePlaceholder;
  sql += L" (";
  const std::int16_t count = recordset.GetODBCFieldCount();
  for (std::int16_t i = 0; i < count; ++i) {
    CODBCFieldInfo field;
    recordset.GetODBCFieldInfo(i, field);
    AppendQuotedName(sql, columns[static_cast<std::size_t>(i)].name);
    sql += ColumnTypeSql(field, format);
    sql += i + 1 < count ? L"," : L");";
  }
  return sql;
}

std::wstring BuildCreateTableSql(odbc::CRecordset& recordset, OutputFormat format) {
  return BuildCreateTableSql(recordset, format, OutputColumnNames(recordset, format));
}

std::wstring FillCreateTemplate(std::wstring_view createTemplate, std::wstring_view tableName) {
  std::wstring sql(createTemplate);
  const std::size_t at = sql.find(kTableNamePlaceholder);
  if (at != std::wstring::npos) sql.replace(at, kTableNamePlaceholder.size(), tableName);
  return sql;
}

void ReadRow(odbc::CRecordset& recordset, std::vector<CDBVariant>& row) {
  const auto count = static_cast<std::size_t>(recordset.GetODBCFieldCount());
  // Value holders cannot move, so a row of another width gets a new set once.
  if (row.size() != count) row = std::vector<CDBVariant>(count);
  for (std::size_t i = 0; i < count; ++i) recordset.GetFieldValue(static_cast<std::int16_t>(i), row[i]);
}

std::vector<std::int16_t> ColumnSqlTypes(const odbc::CRecordset& recordset) {
  const std::int16_t count = recordset.GetODBCFieldCount();
  std::vector<std::int16_t> types(static_cast<std::size_t>(count));
  for (std::int16_t i = 0; i < count; ++i)
    types[static_cast<std::size_t>(i)] = recordset.GetODBCFieldInfo(i).m_nSQLType;
  return types;
}

namespace {

// The literal of one value of a column of `sqlType` (0 when not known), as BuildInsertLiterals
// makes it.
void BuildLiteral(const CDBVariant& value, std::int16_t sqlType, std::wstring_view datePattern, IExportHost& host,
                  odbc::Literal& literal) {
  literal.text.clear();
  literal.wellFormed = false;
  literal.holdsNumber = false;
  if (value.m_dwType == odbc::DBVT_NULL) {
    literal.kind = odbc::Literal::Kind::Null;  // only a real null; the text "NULL" is text like any other
    return;
  }
  // A single character is text whatever its column.
  const bool number = value.m_dwType != odbc::DBVT_UCHAR && IsUnquotedType(sqlType);
  // Numbers and dates go as values, unwritten: a driver reads them as it would their text.
  if (number) {
    switch (value.m_dwType) {
      case odbc::DBVT_BOOL:
        literal.kind = odbc::Literal::Kind::Boolean;
        literal.integer = value.m_boolVal != 0 ? 1 : 0;
        return;
      case odbc::DBVT_SHORT:
        literal.kind = odbc::Literal::Kind::Integer;
        literal.integer = value.m_iVal;
        return;
      case odbc::DBVT_LONG:
        literal.kind = odbc::Literal::Kind::Integer;
        literal.integer = value.m_lVal;
        return;
      case odbc::DBVT_BIGINT:
        literal.kind = odbc::Literal::Kind::Integer;
        literal.integer = value.m_llVal;
        return;
      case odbc::DBVT_DOUBLE:
        literal.kind = odbc::Literal::Kind::Double;
        literal.number = value.m_dblVal;
        return;
      default:
        break;
    }
  } else if (value.m_dwType == odbc::DBVT_DATE) {
    SetDateLiteral(*value.m_pdate, sqlType, datePattern, literal);
    return;
  }
  literal.kind = number ? odbc::Literal::Kind::Number : odbc::Literal::Kind::Text;
  literal.wellFormed = number && WrittenAsNumber(value.m_dwType);
  literal.bytes.clear();
  if (value.m_dwType == odbc::DBVT_BINARY) {
    literal.kind = odbc::Literal::Kind::Binary;
    literal.bytes = value.m_pbinary->m_bytes;
  }
  AppendValueText(literal.text, value, host, datePattern);
  if (literal.wellFormed) literal.holdsNumber = NumberTextReadsAs(value, literal.number);
}

}  // namespace

void BuildInsertLiterals(const std::vector<CDBVariant>& row, const std::vector<std::int16_t>& sqlTypes,
                         std::wstring_view datePattern, IExportHost& host, std::vector<odbc::Literal>& out) {
  datePattern = EffectiveDatePattern(datePattern);  // a view of the given text or of the default
  out.resize(row.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    BuildLiteral(row[i], i < sqlTypes.size() ? sqlTypes[i] : std::int16_t{0}, datePattern, host, out[i]);
  }
}

namespace {

// The literal of a value ReadRow read (its text, if any, already in the literal), of a column of
// `sqlType`; the rarer kinds and pairings go the way every value of a CDBVariant goes.
void LiteralOfCell(const odbc::CellValue& cell, const RowReader& reader, std::int16_t column, std::int16_t sqlType,
                   std::wstring_view datePattern, IExportHost& host, odbc::CDBVariant& scratch,
                   odbc::Literal& literal) {
  literal.wellFormed = false;
  literal.holdsNumber = false;
  literal.bytes.clear();
  const bool number = IsUnquotedType(sqlType);
  switch (cell.kind) {
    case odbc::CellValue::Kind::Null:
      literal.kind = odbc::Literal::Kind::Null;
      return;
    case odbc::CellValue::Kind::Bool:
    case odbc::CellValue::Kind::Whole:
      if (!number) break;
      literal.kind =
          cell.kind == odbc::CellValue::Kind::Bool ? odbc::Literal::Kind::Boolean : odbc::Literal::Kind::Integer;
      literal.integer = cell.whole;
      return;
    case odbc::CellValue::Kind::Double:
      if (!number) break;
      literal.kind = odbc::Literal::Kind::Double;
      literal.number = cell.real;
      return;
    case odbc::CellValue::Kind::Date:
      if (number) break;
      SetDateLiteral(cell.date, sqlType, datePattern, literal);
      return;
    case odbc::CellValue::Kind::Text:
      // Already in the literal's text; a source's text of a number is a Number as it is.
      literal.kind = number ? odbc::Literal::Kind::Number : odbc::Literal::Kind::Text;
      return;
    case odbc::CellValue::Kind::Other:
      break;
  }
  reader.GetValue(column, scratch);
  BuildLiteral(scratch, sqlType, datePattern, host, literal);
}

}  // namespace

void ReadLiterals(const RowReader& reader, std::span<const std::int16_t> sqlTypes, std::wstring_view datePattern,
                  IExportHost& host, odbc::CDBVariant& scratch, std::vector<odbc::CellValue>& cells,
                  std::vector<odbc::Literal>& literals) {
  cells.resize(sqlTypes.size());
  literals.resize(sqlTypes.size());
  reader.ReadRow(cells, literals);
  for (std::size_t i = 0; i < sqlTypes.size(); ++i) {
    LiteralOfCell(cells[i], reader, static_cast<std::int16_t>(i), sqlTypes[i], datePattern, host, scratch, literals[i]);
  }
}

void RenderInsertSql(std::wstring_view tableName, const std::vector<odbc::Literal>& literals, std::wstring& out) {
  out.clear();
  out += kInsertInto;
  out += tableName;
  out += kValuesOpen;
  for (std::size_t i = 0; i < literals.size(); ++i) {
    odbc::AppendSqlLiteral(out, literals[i]);
    if (i + 1 < literals.size()) out += L',';
  }
  out += kStatementEnd;
}

std::wstring BuildInsertSql(odbc::CRecordset& recordset, std::wstring_view tableName, IExportHost& host) {
  InsertScratch scratch;
  return BuildInsertSql(recordset, tableName, host, scratch);
}

std::wstring BuildInsertSql(odbc::CRecordset& recordset, std::wstring_view tableName, IExportHost& host,
                            InsertScratch& scratch) {
  if (scratch.sqlTypes.empty()) scratch.sqlTypes = ColumnSqlTypes(recordset);
  ReadRow(recordset, scratch.values);
  scratch.datePattern = EffectiveDatePattern(host.GetDatePattern());
  BuildInsertLiterals(scratch.values, scratch.sqlTypes, scratch.datePattern, host, scratch.literals);
  std::wstring sql;
  RenderInsertSql(tableName, scratch.literals, sql);
  return sql;
}

std::wstring_view EffectiveDatePattern(std::wstring_view pattern) {
  const std::wstring_view trimmed = text::TrimAsciiBlanks(pattern);
  return trimmed.empty() ? kDefaultDatePattern : trimmed;
}

std::wstring FormatDateValue(const DateParts& date, std::wstring_view pattern) {
  std::wstring text;
  odbc::AppendDateByPattern(text, {date.year, date.month, date.day, date.hour, date.minute, date.second},
                            EffectiveDatePattern(pattern));
  return text;
}

}  // namespace quillon::engine

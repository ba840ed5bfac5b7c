#include "engine/StatementBuilders.h"

#include <array>
#include <charconv>
#include <cwctype>
#include <deque>

#include "platform/odbc/DBVariant.h"
#include "platform/odbc/Recordset.h"
#include "platform/text/WideText.h"

namespace quillon::engine {
namespace {

using odbc::CDBVariant;
using odbc::CODBCFieldInfo;

constexpr std::uint32_t kLongestAccessVarchar = 255;
constexpr wchar_t kNamePunctuationNeedingQuotes[] = {L' ', L'-', L'&'};
constexpr std::wstring_view kHexDigits = L"0123456789ABCDEF";
constexpr std::wstring_view kInsertInto = L"INSERT INTO ";
constexpr std::wstring_view kValuesOpen = L" VALUES(";
constexpr std::wstring_view kNull = L"NULL";
constexpr std::wstring_view kStatementEnd = L");";

}  // namespace

std::wstring ColumnTypeSql(const CODBCFieldInfo& field, OutputFormat format) {
  const bool access = format == FormatAccess;
  switch (field.m_nSQLType) {
    case odbc::SQL_CODE_BIT: return L"BIT";
    case odbc::SQL_CODE_DECIMAL:
    case odbc::SQL_CODE_DOUBLE: return access && field.m_nPrecision == 1 ? L"BIT" : L"DOUBLE";
    case odbc::SQL_CODE_INTEGER: return L"INTEGER";
    case odbc::SQL_CODE_SMALLINT: return L"SMALLINT";
    case odbc::SQL_CODE_TIMESTAMP: return L"DATE";
    case odbc::SQL_CODE_VARCHAR:
    // Long and wide text follow the VARCHAR rule too, so that longer values find room in a MEMO.
    case odbc::SQL_CODE_LONGVARCHAR:
    case odbc::SQL_CODE_WLONGVARCHAR:
    case odbc::SQL_CODE_WVARCHAR:
    case odbc::SQL_CODE_WCHAR:
      if (!access) return L"TEXT";
      if (field.m_nPrecision <= kLongestAccessVarchar) return L"VARCHAR(" + std::to_wstring(field.m_nPrecision) + L")";
      return L"MEMO";
    default: return access ? L"VARCHAR(255)" : L"TEXT";
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
    case odbc::SQL_CODE_DOUBLE: return true;
    default: return false;
  }
}

void AppendDoubledApostrophes(std::wstring& out, std::wstring_view text) {
  // Whole runs between apostrophes at a time.
  for (std::size_t quote = text.find(L'\''); quote != std::wstring_view::npos; quote = text.find(L'\'')) {
    out.append(text.substr(0, quote + 1));
    out += L'\'';
    text.remove_prefix(quote + 1);
  }
  out.append(text);
}

template <typename Number>
void AppendNumber(std::wstring& out, Number value) {
  std::array<char, 64> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  // Widened character by character: appending a narrow range would build a wide copy first.
  const auto length = static_cast<std::size_t>(result.ptr - buffer.data());
  const std::size_t at = out.size();
  out.resize(at + length);
  for (std::size_t i = 0; i < length; ++i) out[at + i] = static_cast<wchar_t>(buffer[i]);
}

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && std::iswspace(static_cast<wint_t>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::iswspace(static_cast<wint_t>(s.back()))) s.remove_suffix(1);
  return s;
}

// Appends the date by `pattern` in one pass: each token is '%' and a letter, and no number put
// in its place holds either, so the result is that of replacing each token in turn.
void AppendDateValue(std::wstring& out, const DateParts& date, std::wstring_view pattern) {
  const std::wstring_view trimmed = Trim(pattern);
  const std::wstring_view text = trimmed.empty() ? kDefaultDatePattern : trimmed;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 1 < text.size()) {
      int number = 0;
      bool token = true;
      switch (text[i + 1]) {
        case L'd': number = date.day; break;
        case L'm': number = date.month; break;
        case L'y': number = date.year; break;
        case L'H': number = date.hour; break;
        case L'M': number = date.minute; break;
        case L'S': number = date.second; break;
        default: token = false; break;
      }
      if (token) {
        AppendNumber(out, number);
        ++i;
        continue;
      }
    }
    out += text[i];
  }
}

// Appends the text of a value that is not null.
void AppendValueText(std::wstring& out, const CDBVariant& value, IExportHost& host) {
  switch (value.m_dwType) {
    case odbc::DBVT_NULL: break;
    case odbc::DBVT_BOOL: out += value.m_boolVal != 0 ? L'1' : L'0'; break;
    case odbc::DBVT_UCHAR:
      out += L'\'';
      if (value.m_chVal != 0) AppendDoubledApostrophes(out, std::wstring(1, static_cast<wchar_t>(value.m_chVal)));
      out += L'\'';
      break;
    case odbc::DBVT_SHORT: AppendNumber(out, value.m_iVal); break;
    case odbc::DBVT_LONG: AppendNumber(out, value.m_lVal); break;
    case odbc::DBVT_SINGLE: AppendNumber(out, value.m_fltVal); break;
    case odbc::DBVT_DOUBLE: AppendNumber(out, value.m_dblVal); break;
    case odbc::DBVT_DATE: {
      const odbc::TIMESTAMP_STRUCT& d = *value.m_pdate;
      AppendDateValue(out, {d.year, d.month, d.day, d.hour, d.minute, d.second}, host.GetDatePattern());
      break;
    }
    case odbc::DBVT_STRING: AppendDoubledApostrophes(out, *value.m_pstring); break;
    case odbc::DBVT_WSTRING: AppendDoubledApostrophes(out, *value.m_pstringW); break;
    case odbc::DBVT_ASTRING: AppendDoubledApostrophes(out, text::LocaleToWide(*value.m_pstringA)); break;
    case odbc::DBVT_BINARY:
      // Hexadecimal, so that no byte is lost on the way into a text column.
      out += L"0x";
      for (std::uint8_t byte : value.m_pbinary->m_bytes) {
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0xF];
      }
      break;
    default: host.ReportUnknownType(); break;
  }
}

}  // namespace

std::wstring BuildCreateTableSql(odbc::CRecordset& recordset, OutputFormat format) {
  std::wstring sql = L"CREATE TABLE ";
  sql += kTableNamePlaceholder;
  sql += L" (";
  const std::int16_t count = recordset.GetODBCFieldCount();
  for (std::int16_t i = 0; i < count; ++i) {
    CODBCFieldInfo field;
    recordset.GetODBCFieldInfo(i, field);
    std::wstring name;
    for (wchar_t c : field.m_strName) {
      if (c != L'.') name.push_back(c);
    }
    bool quoted = false;
    for (wchar_t c : kNamePunctuationNeedingQuotes) quoted = quoted || name.find(c) != std::wstring::npos;
    sql += quoted ? L"'" + name + L"' " : L"[" + name + L"] ";
    sql += ColumnTypeSql(field, format);
    sql += i + 1 < count ? L"," : L");";
  }
  return sql;
}

std::wstring FillCreateTemplate(std::wstring_view createTemplate, std::wstring_view tableName) {
  std::wstring sql(createTemplate);
  const std::size_t at = sql.find(kTableNamePlaceholder);
  if (at != std::wstring::npos) sql.replace(at, kTableNamePlaceholder.size(), tableName);
  return sql;
}

std::wstring BuildInsertSql(odbc::CRecordset& recordset, std::wstring_view tableName, IExportHost& host) {
  InsertScratch scratch;
  return BuildInsertSql(recordset, tableName, host, scratch);
}

std::wstring BuildInsertSql(odbc::CRecordset& recordset, std::wstring_view tableName, IExportHost& host,
                            InsertScratch& scratch) {
  auto& values = scratch.values;
  std::wstring sql;
  sql.reserve(scratch.lastLength);
  sql += kInsertInto;
  sql += tableName;
  sql += kValuesOpen;
  const std::int16_t count = recordset.GetODBCFieldCount();
  while (values.size() < static_cast<std::size_t>(count)) values.emplace_back();
  for (std::int16_t i = 0; i < count; ++i) {
    CDBVariant& value = values[static_cast<std::size_t>(i)];
    recordset.GetFieldValue(i, value);
    if (value.m_dwType == odbc::DBVT_NULL) {
      sql += kNull;  // only a real null; the text "NULL" is quoted like any other text
    } else {
      const bool quoted = !IsUnquotedType(recordset.GetODBCFieldInfo(i).m_nSQLType);
      if (quoted) sql += L'\'';
      AppendValueText(sql, value, host);
      if (quoted) sql += L'\'';
    }
    if (i + 1 < count) {
      sql += L',';
    } else {
      sql += kStatementEnd;
    }
  }
  scratch.lastLength = sql.size();
  return sql;
}

std::wstring FormatDateValue(const DateParts& date, std::wstring_view pattern) {
  std::wstring text;
  AppendDateValue(text, date, pattern);
  return text;
}

}  // namespace quillon::engine

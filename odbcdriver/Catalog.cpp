#include "odbcdriver/Catalog.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "odbcdriver/Info.h"
#include "platform/text/WideText.h"

namespace quillon::odbcdriver {
namespace {

constexpr wchar_t kAnyRun = L'%';
constexpr wchar_t kAnyOne = L'_';
constexpr std::wstring_view kAllNames = L"%";  // SQL_ALL_CATALOGS, SQL_ALL_SCHEMAS, SQL_ALL_TABLE_TYPES
constexpr std::wstring_view kTableType = L"TABLE";
constexpr std::wstring_view kSystemTableType = L"SYSTEM TABLE";
constexpr SQLULEN kNameSize = 128;  // the catalog columns' text
constexpr SQLULEN kTypeNameSize = 32;
// Bytes a value of a fixed-size type takes in its default C type (BUFFER_LENGTH).
constexpr SQLLEN kTimestampBytes = sizeof(SQL_TIMESTAMP_STRUCT);
constexpr SQLLEN kTimeBytes = sizeof(SQL_TIME_STRUCT);
constexpr SQLLEN kDateBytes = sizeof(SQL_DATE_STRUCT);

bool SameChar(wchar_t a, wchar_t b) { return a == b || std::towupper(a) == std::towupper(b); }

// One element of a search pattern: any run of characters, any one character, or a character (an
// escaped '%' or '_' is a character).
struct PatternElement {
  enum class Kind { AnyRun, AnyOne, Char } kind;
  wchar_t c = 0;
};

std::vector<PatternElement> Elements(std::wstring_view pattern) {
  std::vector<PatternElement> elements;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const wchar_t c = pattern[i];
    if (c == kSearchEscape && i + 1 < pattern.size()) {
      elements.push_back({PatternElement::Kind::Char, pattern[++i]});
    } else if (c == kAnyRun) {
      elements.push_back({PatternElement::Kind::AnyRun});
    } else {
      elements.push_back({c == kAnyOne ? PatternElement::Kind::AnyOne : PatternElement::Kind::Char, c});
    }
  }
  return elements;
}

// Whether `value` matches `pattern`, in time of at most the product of their lengths: on a
// mismatch, only the last '%' takes one more character (trying every split of every '%' would
// let a pattern like %a%a%a%a%a%b take hours on a long name).
bool Matches(std::wstring_view value, std::wstring_view pattern) {
  const std::vector<PatternElement> elements = Elements(pattern);
  std::size_t v = 0;
  std::size_t p = 0;
  std::size_t runAt = elements.size();  // the last '%' passed, none yet
  std::size_t runFrom = 0;              // where in the value that '%' ends now
  while (v < value.size()) {
    if (p < elements.size() && elements[p].kind == PatternElement::Kind::AnyRun) {
      runAt = p++;
      runFrom = v;
    } else if (p < elements.size() &&
               (elements[p].kind == PatternElement::Kind::AnyOne || SameChar(value[v], elements[p].c))) {
      ++v;
      ++p;
    } else if (runAt != elements.size()) {
      p = runAt + 1;
      v = ++runFrom;
    } else {
      return false;
    }
  }
  while (p < elements.size() && elements[p].kind == PatternElement::Kind::AnyRun) ++p;
  return p == elements.size();
}

// The argument as a pattern: an identifier (SQL_ATTR_METADATA_ID on) is matched as it stands,
// a double-quoted one without its quotes. Nothing: every name.
std::wstring PatternOf(const CatalogArgument& argument, bool metadataId) {
  if (!argument) return std::wstring(kAllNames);
  if (!metadataId) return *argument;
  std::wstring_view name = *argument;
  while (!name.empty() && name.front() == L' ') name.remove_prefix(1);
  while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
  if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"') name = name.substr(1, name.size() - 2);
  std::wstring pattern;
  for (const wchar_t c : name) {
    if (c == kAnyRun || c == kAnyOne || c == kSearchEscape) pattern.push_back(kSearchEscape);
    pattern.push_back(c);
  }
  return pattern;
}

// The files have no catalogs or schemas: a name other than "%" or empty matches nothing.
bool NoCatalogOrSchema(const CatalogArgument& argument) {
  return !argument || argument->empty() || *argument == kAllNames;
}

// The table types a type list asks for: TABLE alone when it names none.
void TypesAsked(const CatalogArgument& types, bool& tables, bool& systemTables) {
  tables = true;
  systemTables = false;
  if (!types || types->empty()) return;
  tables = false;
  std::wstring_view list = *types;
  while (!list.empty()) {
    const std::size_t comma = list.find(L',');
    std::wstring_view type = list.substr(0, comma);
    list = comma == std::wstring_view::npos ? std::wstring_view() : list.substr(comma + 1);
    while (!type.empty() && type.front() == L' ') type.remove_prefix(1);
    while (!type.empty() && type.back() == L' ') type.remove_suffix(1);
    if (type.size() >= 2 && type.front() == L'\'' && type.back() == L'\'') type = type.substr(1, type.size() - 2);
    if (type == kAllNames) tables = systemTables = true;
    if (text::EqualsIgnoreAsciiCase(type, kTableType)) tables = true;
    if (text::EqualsIgnoreAsciiCase(type, kSystemTableType)) systemTables = true;
  }
}

ResultSet TablesResult() {
  return ResultSet({
      {L"TABLE_CAT", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"TABLE_SCHEM", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"TABLE_NAME", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"TABLE_TYPE", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"REMARKS", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
  });
}

// The listed tables in the order the catalog functions give them: by type (TABLE before SYSTEM
// TABLE), then by name.
std::vector<drivers::ListedTable> SortedTables(Session& session) {
  std::vector<drivers::ListedTable> tables = session.Tables();
  std::stable_sort(tables.begin(), tables.end(), [](const auto& a, const auto& b) {
    if (a.system != b.system) return !a.system;
    return text::AsciiUpper(a.name) < text::AsciiUpper(b.name);
  });
  return tables;
}

ResultValue Number(long long value) { return value; }

}  // namespace

bool MatchesPattern(std::wstring_view value, std::wstring_view pattern) { return Matches(value, pattern); }

ResultSet Tables(Session& session, const CatalogArgument& catalog, const CatalogArgument& schema,
                 const CatalogArgument& table, const CatalogArgument& types, bool metadataId) {
  ResultSet result = TablesResult();
  const auto empty = [](const CatalogArgument& a) { return a && a->empty(); };
  const ResultValue none = std::monostate{};
  // The special calls: catalogs, schemas (there are none) and table types.
  if ((catalog == kAllNames && empty(schema) && empty(table)) ||
      (schema == kAllNames && empty(catalog) && empty(table))) {
    return result;
  }
  if (types == kAllNames && empty(catalog) && empty(schema) && empty(table)) {
    result.AddRow({none, none, none, std::wstring(kSystemTableType), none});
    result.AddRow({none, none, none, std::wstring(kTableType), none});
    return result;
  }
  if (!NoCatalogOrSchema(catalog) || !NoCatalogOrSchema(schema)) return result;
  bool tables = false, systemTables = false;
  TypesAsked(types, tables, systemTables);
  const std::wstring pattern = PatternOf(table, metadataId);
  for (const auto& listed : SortedTables(session)) {
    if (!(listed.system ? systemTables : tables) || !Matches(listed.name, pattern)) continue;
    result.AddRow({none, none, listed.name, std::wstring(listed.system ? kSystemTableType : kTableType), none});
  }
  return result;
}

ResultSet Columns(Session& session, const CatalogArgument& catalog, const CatalogArgument& schema,
                  const CatalogArgument& table, const CatalogArgument& column, bool metadataId) {
  ResultSet result({
      {L"TABLE_CAT", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"TABLE_SCHEM", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"TABLE_NAME", SQL_WVARCHAR, kNameSize, SQL_NO_NULLS},
      {L"COLUMN_NAME", SQL_WVARCHAR, kNameSize, SQL_NO_NULLS},
      {L"DATA_TYPE", SQL_SMALLINT, 5, SQL_NO_NULLS},
      {L"TYPE_NAME", SQL_WVARCHAR, kTypeNameSize, SQL_NO_NULLS},
      {L"COLUMN_SIZE", SQL_INTEGER, 10, SQL_NULLABLE},
      {L"BUFFER_LENGTH", SQL_INTEGER, 10, SQL_NULLABLE},
      {L"DECIMAL_DIGITS", SQL_SMALLINT, 5, SQL_NULLABLE},
      {L"NUM_PREC_RADIX", SQL_SMALLINT, 5, SQL_NULLABLE},
      {L"NULLABLE", SQL_SMALLINT, 5, SQL_NO_NULLS},
      {L"REMARKS", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"COLUMN_DEF", SQL_WVARCHAR, kNameSize, SQL_NULLABLE},
      {L"SQL_DATA_TYPE", SQL_SMALLINT, 5, SQL_NO_NULLS},
      {L"SQL_DATETIME_SUB", SQL_SMALLINT, 5, SQL_NULLABLE},
      {L"CHAR_OCTET_LENGTH", SQL_INTEGER, 10, SQL_NULLABLE},
      {L"ORDINAL_POSITION", SQL_INTEGER, 10, SQL_NO_NULLS},
      {L"IS_NULLABLE", SQL_WVARCHAR, 3, SQL_NULLABLE},
  });
  if (!NoCatalogOrSchema(catalog) || !NoCatalogOrSchema(schema)) return result;
  const std::wstring tablePattern = PatternOf(table, metadataId);
  const std::wstring columnPattern = PatternOf(column, metadataId);
  const ResultValue none = std::monostate{};
  // System tables only for a pattern that starts with their name, not a wildcard.
  const bool systemTables = !tablePattern.empty() && tablePattern.front() != kAnyRun && tablePattern.front() != kAnyOne;
  for (const auto& listed : SortedTables(session)) {
    if ((listed.system && !systemTables) || !Matches(listed.name, tablePattern)) continue;
    for (std::size_t i = 0; i < listed.columns.size(); ++i) {
      const auto& def = listed.columns[i];
      if (!Matches(def.name, columnPattern)) continue;
      SQLSMALLINT sqlType = 0, sqlDataType = 0, datetimeSub = 0;
      SQLULEN size = 0;
      DescribeColumnType(static_cast<int>(def.type), def.length, sqlType, size);
      const std::wstring typeName = TypeName(sqlType, sqlDataType, datetimeSub);
      const bool text = sqlType == SQL_WVARCHAR || sqlType == SQL_WLONGVARCHAR;
      const bool binary = sqlType == SQL_LONGVARBINARY;
      const bool exact = sqlType == SQL_INTEGER || sqlType == SQL_SMALLINT || sqlType == SQL_BIT;
      const bool numeric = exact || sqlType == SQL_DOUBLE;
      SQLLEN bytes = static_cast<SQLLEN>(size);
      switch (sqlType) {
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
          bytes = static_cast<SQLLEN>(size * sizeof(char16_t));
          break;
        case SQL_INTEGER:
          bytes = sizeof(SQLINTEGER);
          break;
        case SQL_SMALLINT:
          bytes = sizeof(SQLSMALLINT);
          break;
        case SQL_DOUBLE:
          bytes = sizeof(SQLDOUBLE);
          break;
        case SQL_TYPE_TIMESTAMP:
          bytes = kTimestampBytes;
          break;
        case SQL_TYPE_TIME:
          bytes = kTimeBytes;
          break;
        case SQL_TYPE_DATE:
          bytes = kDateBytes;
          break;
        default:
          break;
      }
      result.AddRow({
          none,
          none,
          listed.name,
          def.name,
          Number(sqlType),
          typeName,
          Number(static_cast<long long>(size)),
          Number(bytes),
          exact || sqlDataType == SQL_DATETIME ? Number(0) : none,
          numeric ? Number(10) : none,
          Number(SQL_NULLABLE),
          none,
          none,
          Number(sqlDataType),
          datetimeSub != 0 ? Number(datetimeSub) : none,
          text || binary ? Number(bytes) : none,
          Number(static_cast<long long>(i + 1)),
          std::wstring(L"YES"),
      });
    }
  }
  return result;
}

}  // namespace quillon::odbcdriver

#include "odbcdriver/Info.h"

#include <iterator>

#include "drivers/sql/Statement.h"
#include "platform/errors/Errors.h"

namespace quillon::odbcdriver {
namespace {

constexpr wchar_t kDriverFile[] = L"libquillonodbc.so";
constexpr wchar_t kDriverVersion[] = L"00.01.0000";
constexpr wchar_t kOdbcVersion[] = L"03.51";
// The longest table and column names the formats take (Access: 64 characters).
constexpr SQLUSMALLINT kMaxNameLength = 64;
constexpr SQLUSMALLINT kMaxColumnsInTable = 255;
// A time stamp's text: YYYY-MM-DD HH:MM:SS, no fraction of a second.
constexpr SQLULEN kTimestampSize = 19;
constexpr SQLULEN kDateSize = 10;
constexpr SQLULEN kTimeSize = 8;
constexpr SQLULEN kMemoSize = 65535;
constexpr SQLULEN kLongBinarySize = 16 * 1024 * 1024;
constexpr SQLULEN kDoublePrecision = 15;
constexpr SQLULEN kIntegerPrecision = 10;
constexpr SQLULEN kSmallIntPrecision = 5;

struct StringInfo {
  SQLUSMALLINT type;
  const wchar_t* value;
};
constexpr StringInfo kStringInfo[] = {
    {SQL_DRIVER_NAME, kDriverFile},
    {SQL_DRIVER_VER, kDriverVersion},
    {SQL_DRIVER_ODBC_VER, kOdbcVersion},
    {SQL_DBMS_VER, kDriverVersion},
    {SQL_SERVER_NAME, L""},
    {SQL_USER_NAME, L""},
    {SQL_IDENTIFIER_QUOTE_CHAR, L"\""},
    {SQL_SEARCH_PATTERN_ESCAPE, L"\\"},
    {SQL_CATALOG_NAME_SEPARATOR, L""},
    {SQL_CATALOG_TERM, L""},
    {SQL_SCHEMA_TERM, L""},
    {SQL_TABLE_TERM, L"table"},
    {SQL_PROCEDURE_TERM, L""},
    {SQL_SPECIAL_CHARACTERS, L""},
    {SQL_KEYWORDS, L""},
    {SQL_COLLATION_SEQ, L""},
    {SQL_ACCESSIBLE_TABLES, L"Y"},
    {SQL_ACCESSIBLE_PROCEDURES, L"N"},
    {SQL_MULT_RESULT_SETS, L"N"},
    {SQL_MULTIPLE_ACTIVE_TXN, L"N"},
    {SQL_NEED_LONG_DATA_LEN, L"N"},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, L"N"},
    {SQL_COLUMN_ALIAS, L"N"},
    {SQL_DESCRIBE_PARAMETER, L"Y"},
    {SQL_CATALOG_NAME, L"N"},
    {SQL_LIKE_ESCAPE_CLAUSE, L"N"},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, L"Y"},
    {SQL_OUTER_JOINS, L"N"},
    {SQL_PROCEDURES, L"N"},
    {SQL_ROW_UPDATES, L"N"},
    {SQL_EXPRESSIONS_IN_ORDERBY, L"N"},
    {SQL_INTEGRITY, L"N"},
};

struct SmallInfo {
  SQLUSMALLINT type;
  SQLUSMALLINT value;
};
constexpr SmallInfo kSmallInfo[] = {
    // CREATE TABLE and INSERT alike belong to the transaction.
    {SQL_TXN_CAPABLE, SQL_TC_ALL},
    {SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_CLOSE},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_CLOSE},
    {SQL_MAX_CONCURRENT_ACTIVITIES, 0},
    {SQL_MAX_DRIVER_CONNECTIONS, 0},
    {SQL_MAX_COLUMN_NAME_LEN, kMaxNameLength},
    {SQL_MAX_TABLE_NAME_LEN, kMaxNameLength},
    {SQL_MAX_IDENTIFIER_LEN, kMaxNameLength},
    {SQL_MAX_CATALOG_NAME_LEN, 0},
    {SQL_MAX_SCHEMA_NAME_LEN, 0},
    {SQL_MAX_CURSOR_NAME_LEN, 0},
    {SQL_MAX_PROCEDURE_NAME_LEN, 0},
    {SQL_MAX_USER_NAME_LEN, 0},
    {SQL_MAX_COLUMNS_IN_TABLE, kMaxColumnsInTable},
    {SQL_MAX_COLUMNS_IN_SELECT, 0},
    {SQL_MAX_COLUMNS_IN_GROUP_BY, 0},
    {SQL_MAX_COLUMNS_IN_INDEX, 0},
    {SQL_MAX_COLUMNS_IN_ORDER_BY, 0},
    {SQL_MAX_TABLES_IN_SELECT, 0},
    {SQL_IDENTIFIER_CASE, SQL_IC_MIXED},
    {SQL_QUOTED_IDENTIFIER_CASE, SQL_IC_MIXED},
    {SQL_NULL_COLLATION, SQL_NC_LOW},
    {SQL_CONCAT_NULL_BEHAVIOR, SQL_CB_NULL},
    {SQL_CORRELATION_NAME, SQL_CN_NONE},
    {SQL_NON_NULLABLE_COLUMNS, SQL_NNC_NULL},
    {SQL_FILE_USAGE, SQL_FILE_CATALOG},
    {SQL_GROUP_BY, SQL_GB_NOT_SUPPORTED},
    {SQL_ODBC_SQL_CONFORMANCE, SQL_OSC_MINIMUM},
    {SQL_ODBC_API_CONFORMANCE, SQL_OAC_LEVEL1},
    {SQL_CATALOG_LOCATION, 0},
    {SQL_ACTIVE_ENVIRONMENTS, 0},
};

struct IntegerInfo {
  SQLUSMALLINT type;
  SQLUINTEGER value;
};
constexpr IntegerInfo kIntegerInfo[] = {
    {SQL_GETDATA_EXTENSIONS, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND},
    {SQL_DEFAULT_TXN_ISOLATION, SQL_TXN_SERIALIZABLE},
    {SQL_TXN_ISOLATION_OPTION, SQL_TXN_SERIALIZABLE},
    {SQL_MAX_ROW_SIZE, 0},
    {SQL_MAX_STATEMENT_LEN, 0},
    {SQL_MAX_CHAR_LITERAL_LEN, 0},
    {SQL_MAX_BINARY_LITERAL_LEN, 0},
    {SQL_MAX_INDEX_SIZE, 0},
    {SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY},
    {SQL_CURSOR_SENSITIVITY, SQL_INSENSITIVE},
    // One row count for a whole array of parameters; arrays never select.
    {SQL_PARAM_ARRAY_ROW_COUNTS, SQL_PARC_NO_BATCH},
    {SQL_PARAM_ARRAY_SELECTS, SQL_PAS_NO_SELECT},
    {SQL_BATCH_SUPPORT, 0},
    {SQL_BATCH_ROW_COUNT, 0},
    {SQL_ASYNC_MODE, SQL_AM_NONE},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 0},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, SQL_CA2_READ_ONLY_CONCURRENCY},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, 0},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, 0},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 0},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 0},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, 0},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, 0},
    {SQL_SQL_CONFORMANCE, SQL_SC_SQL92_ENTRY},
    {SQL_ODBC_INTERFACE_CONFORMANCE, SQL_OIC_CORE},
    {SQL_CREATE_TABLE, SQL_CT_CREATE_TABLE | SQL_CT_COLUMN_CONSTRAINT},
    {SQL_INSERT_STATEMENT, SQL_IS_INSERT_LITERALS},
    {SQL_ALTER_TABLE, 0},
    {SQL_DROP_TABLE, 0},
    {SQL_CONVERT_FUNCTIONS, 0},
    {SQL_NUMERIC_FUNCTIONS, 0},
    {SQL_STRING_FUNCTIONS, 0},
    {SQL_SYSTEM_FUNCTIONS, 0},
    {SQL_TIMEDATE_FUNCTIONS, 0},
    {SQL_AGGREGATE_FUNCTIONS, 0},
    {SQL_BOOKMARK_PERSISTENCE, 0},
    {SQL_STATIC_SENSITIVITY, 0},
    {SQL_LOCK_TYPES, 0},
    {SQL_POS_OPERATIONS, 0},
    {SQL_POSITIONED_STATEMENTS, 0},
    {SQL_OJ_CAPABILITIES, 0},
    {SQL_SUBQUERIES, 0},
    {SQL_UNION, 0},
    {SQL_DATETIME_LITERALS, 0},
    {SQL_TIMEDATE_ADD_INTERVALS, 0},
    {SQL_TIMEDATE_DIFF_INTERVALS, 0},
    {SQL_SCHEMA_USAGE, 0},
    {SQL_CATALOG_USAGE, 0},
    {SQL_MAX_ROW_SIZE, 0},
    {SQL_INFO_SCHEMA_VIEWS, 0},
};

constexpr SQLUSMALLINT kImplemented[] = {
    SQL_API_SQLALLOCHANDLE,  SQL_API_SQLFREEHANDLE,    SQL_API_SQLFREESTMT,       SQL_API_SQLSETENVATTR,
    SQL_API_SQLGETENVATTR,   SQL_API_SQLCONNECT,       SQL_API_SQLDRIVERCONNECT,  SQL_API_SQLDISCONNECT,
    SQL_API_SQLEXECDIRECT,   SQL_API_SQLPREPARE,       SQL_API_SQLEXECUTE,        SQL_API_SQLBINDPARAMETER,
    SQL_API_SQLNUMPARAMS,    SQL_API_SQLDESCRIBEPARAM, SQL_API_SQLROWCOUNT,       SQL_API_SQLNUMRESULTCOLS,
    SQL_API_SQLGETDIAGREC,   SQL_API_SQLGETDIAGFIELD,  SQL_API_SQLGETINFO,        SQL_API_SQLGETFUNCTIONS,
    SQL_API_SQLGETTYPEINFO,  SQL_API_SQLFETCH,         SQL_API_SQLGETDATA,        SQL_API_SQLDESCRIBECOL,
    SQL_API_SQLCOLATTRIBUTE, SQL_API_SQLBINDCOL,       SQL_API_SQLSETCONNECTATTR, SQL_API_SQLGETCONNECTATTR,
    SQL_API_SQLSETSTMTATTR,  SQL_API_SQLGETSTMTATTR,   SQL_API_SQLENDTRAN,        SQL_API_SQLCANCEL,
    SQL_API_SQLCLOSECURSOR,  SQL_API_SQLMORERESULTS,   SQL_API_SQLPARAMDATA,      SQL_API_SQLPUTDATA,
    SQL_API_SQLTABLES,       SQL_API_SQLCOLUMNS,
};

// The types of CREATE TABLE, by DATA_TYPE as SQLGetTypeInfo orders them.
struct TypeRow {
  const wchar_t* name;
  SQLSMALLINT dataType;
  SQLULEN size;
  const wchar_t* prefix;
  const wchar_t* createParams;
  bool unsignedType;
  bool numeric;
  SQLSMALLINT sqlDataType;
  SQLSMALLINT datetimeSub;
};
constexpr TypeRow kTypes[] = {
    {L"MEMO", SQL_WLONGVARCHAR, kMemoSize, L"'", nullptr, false, false, SQL_WLONGVARCHAR, 0},
    {L"VARCHAR", SQL_WVARCHAR, drivers::sql::kMaxVarCharLength, L"'", L"max length", false, false, SQL_WVARCHAR, 0},
    {L"TEXT", SQL_WVARCHAR, drivers::sql::kTextColumnLength, L"'", nullptr, false, false, SQL_WVARCHAR, 0},
    {L"BIT", SQL_BIT, 1, nullptr, nullptr, true, false, SQL_BIT, 0},
    {L"LONGBINARY", SQL_LONGVARBINARY, kLongBinarySize, L"0x", nullptr, false, false, SQL_LONGVARBINARY, 0},
    {L"INTEGER", SQL_INTEGER, kIntegerPrecision, nullptr, nullptr, false, true, SQL_INTEGER, 0},
    {L"SMALLINT", SQL_SMALLINT, kSmallIntPrecision, nullptr, nullptr, false, true, SQL_SMALLINT, 0},
    {L"DOUBLE", SQL_DOUBLE, kDoublePrecision, nullptr, nullptr, false, true, SQL_DOUBLE, 0},
    {L"DATE", SQL_TYPE_DATE, kDateSize, L"'", nullptr, false, false, SQL_DATETIME, SQL_CODE_DATE},
    {L"TIME", SQL_TYPE_TIME, kTimeSize, L"'", nullptr, false, false, SQL_DATETIME, SQL_CODE_TIME},
    {L"TIMESTAMP", SQL_TYPE_TIMESTAMP, kTimestampSize, L"'", nullptr, false, false, SQL_DATETIME, SQL_CODE_TIMESTAMP},
};

ResultValue Text(const wchar_t* value) {
  if (value == nullptr) return std::monostate{};
  return std::wstring(value);
}

}  // namespace

InfoValue GetInfo(const Connection& connection, SQLUSMALLINT type) {
  const Session* session = connection.session.get();
  switch (type) {
    case SQL_DBMS_NAME:
      return session != nullptr ? session->DriverName() : std::wstring(L"Quillon");
    case SQL_DATABASE_NAME:
      return session != nullptr ? session->Path() : std::wstring();
    case SQL_DATA_SOURCE_NAME:
      return connection.dataSource;
    case SQL_DATA_SOURCE_READ_ONLY:
      return std::wstring(session != nullptr && session->ReadOnly() ? L"Y" : L"N");
    default:
      break;
  }
  for (const auto& info : kStringInfo) {
    if (info.type == type) return std::wstring(info.value);
  }
  for (const auto& info : kSmallInfo) {
    if (info.type == type) return info.value;
  }
  for (const auto& info : kIntegerInfo) {
    if (info.type == type) return info.value;
  }
  throw odbc::errors::UnknownInfoType(type);
}

bool Implements(SQLUSMALLINT id) {
  for (const SQLUSMALLINT implemented : kImplemented) {
    if (implemented == id) return true;
  }
  return false;
}

const SQLUSMALLINT* ImplementedFunctions(std::size_t& count) {
  count = std::size(kImplemented);
  return kImplemented;
}

ResultSet TypeInfo(SQLSMALLINT dataType) {
  ResultSet result({
      {L"TYPE_NAME", SQL_WVARCHAR, 32, SQL_NO_NULLS},         {L"DATA_TYPE", SQL_SMALLINT, 5, SQL_NO_NULLS},
      {L"COLUMN_SIZE", SQL_INTEGER, 10, SQL_NULLABLE},        {L"LITERAL_PREFIX", SQL_WVARCHAR, 8, SQL_NULLABLE},
      {L"LITERAL_SUFFIX", SQL_WVARCHAR, 8, SQL_NULLABLE},     {L"CREATE_PARAMS", SQL_WVARCHAR, 32, SQL_NULLABLE},
      {L"NULLABLE", SQL_SMALLINT, 5, SQL_NO_NULLS},           {L"CASE_SENSITIVE", SQL_SMALLINT, 5, SQL_NO_NULLS},
      {L"SEARCHABLE", SQL_SMALLINT, 5, SQL_NO_NULLS},         {L"UNSIGNED_ATTRIBUTE", SQL_SMALLINT, 5, SQL_NULLABLE},
      {L"FIXED_PREC_SCALE", SQL_SMALLINT, 5, SQL_NO_NULLS},   {L"AUTO_UNIQUE_VALUE", SQL_SMALLINT, 5, SQL_NULLABLE},
      {L"LOCAL_TYPE_NAME", SQL_WVARCHAR, 32, SQL_NULLABLE},   {L"MINIMUM_SCALE", SQL_SMALLINT, 5, SQL_NULLABLE},
      {L"MAXIMUM_SCALE", SQL_SMALLINT, 5, SQL_NULLABLE},      {L"SQL_DATA_TYPE", SQL_SMALLINT, 5, SQL_NO_NULLS},
      {L"SQL_DATETIME_SUB", SQL_SMALLINT, 5, SQL_NULLABLE},   {L"NUM_PREC_RADIX", SQL_INTEGER, 10, SQL_NULLABLE},
      {L"INTERVAL_PRECISION", SQL_SMALLINT, 5, SQL_NULLABLE},
  });
  for (const TypeRow& type : kTypes) {
    if (dataType != SQL_ALL_TYPES && dataType != type.dataType) continue;
    const bool text = type.prefix != nullptr && type.prefix[0] == L'\'' && type.sqlDataType != SQL_DATETIME;
    const ResultValue none = std::monostate{};
    result.AddRow({
        Text(type.name),
        static_cast<long long>(type.dataType),
        static_cast<long long>(type.size),
        Text(type.prefix),
        type.prefix != nullptr && type.prefix[0] == L'\'' ? Text(L"'") : none,
        Text(type.createParams),
        static_cast<long long>(SQL_NULLABLE),
        static_cast<long long>(text ? SQL_TRUE : SQL_FALSE),
        static_cast<long long>(SQL_PRED_NONE),
        type.numeric ? ResultValue(static_cast<long long>(type.unsignedType ? SQL_TRUE : SQL_FALSE)) : none,
        static_cast<long long>(SQL_FALSE),
        type.numeric ? ResultValue(static_cast<long long>(SQL_FALSE)) : none,
        Text(type.name),
        none,
        none,
        static_cast<long long>(type.sqlDataType),
        type.datetimeSub != 0 ? ResultValue(static_cast<long long>(type.datetimeSub)) : none,
        type.numeric ? ResultValue(10LL) : none,
        none,
    });
  }
  return result;
}

const wchar_t* TypeName(SQLSMALLINT sqlType, SQLSMALLINT& sqlDataType, SQLSMALLINT& datetimeSub) {
  for (const TypeRow& type : kTypes) {
    if (type.dataType != sqlType) continue;
    sqlDataType = type.sqlDataType;
    datetimeSub = type.datetimeSub;
    return type.name;
  }
  sqlDataType = sqlType;
  datetimeSub = 0;
  return L"";
}

void DescribeColumnType(int type, int length, SQLSMALLINT& sqlType, SQLULEN& size) {
  using drivers::sql::ColumnType;
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::Text:
    case ColumnType::VarChar:
      sqlType = SQL_WVARCHAR;
      size = static_cast<SQLULEN>(length > 0 ? length : drivers::sql::kTextColumnLength);
      return;
    case ColumnType::Memo:
      sqlType = SQL_WLONGVARCHAR;
      size = kMemoSize;
      return;
    case ColumnType::Double:
      sqlType = SQL_DOUBLE;
      size = kDoublePrecision;
      return;
    case ColumnType::Bit:
      sqlType = SQL_BIT;
      size = 1;
      return;
    case ColumnType::Integer:
      sqlType = SQL_INTEGER;
      size = kIntegerPrecision;
      return;
    case ColumnType::SmallInt:
      sqlType = SQL_SMALLINT;
      size = kSmallIntPrecision;
      return;
    case ColumnType::Date:
    case ColumnType::Timestamp:
      sqlType = SQL_TYPE_TIMESTAMP;
      size = kTimestampSize;
      return;
    case ColumnType::Time:
      sqlType = SQL_TYPE_TIME;
      size = kTimeSize;
      return;
    case ColumnType::LongBinary:
      sqlType = SQL_LONGVARBINARY;
      size = kLongBinarySize;
      return;
  }
  sqlType = SQL_WVARCHAR;
  size = drivers::sql::kTextColumnLength;
}

}  // namespace quillon::odbcdriver

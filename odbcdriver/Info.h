// What the driver tells about itself: SQLGetInfo's answers, SQLGetFunctions' list, and the
// result set of SQLGetTypeInfo.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <variant>

#include "odbcdriver/Handles.h"
#include "odbcdriver/ResultSet.h"

namespace quillon::odbcdriver {

// A string, a 16-bit or a 32-bit answer.
using InfoValue = std::variant<std::wstring, SQLUSMALLINT, SQLUINTEGER>;

// The answer to `type` on `connection`; throws UnknownInfoType for a type it does not answer.
InfoValue GetInfo(const Connection& connection, SQLUSMALLINT type);

// Whether the driver implements the function SQL_API_<id>.
bool Implements(SQLUSMALLINT id);
// Every SQL_API_ id the driver implements, for SQLGetFunctions' bitmaps.
const SQLUSMALLINT* ImplementedFunctions(std::size_t& count);

// The types CREATE TABLE takes, as SQLGetTypeInfo lists them (SQL_ALL_TYPES for all).
ResultSet TypeInfo(SQLSMALLINT dataType);

// The SQL type SQLDescribeParam reports for a column of `type` (drivers/sql/Statement.h) and its
// size.
void DescribeColumnType(int type, int length, SQLSMALLINT& sqlType, SQLULEN& size);

// The name SQLGetTypeInfo gives the type of `sqlType` (VARCHAR for text), and the type's
// SQL_DATA_TYPE and SQL_DATETIME_SUB (0 for none).
const wchar_t* TypeName(SQLSMALLINT sqlType, SQLSMALLINT& sqlDataType, SQLSMALLINT& datetimeSub);

}  // namespace quillon::odbcdriver
